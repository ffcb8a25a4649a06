#include "segment/area_filter.h"

#include "model/records.h"

namespace vanto {

int32_t dropCellsByArea(int32_t* labels, int64_t pixels, const int32_t* cellTable, int32_t count, int32_t minArea,
                        int32_t maxArea) {
    bool drop[kTableRecords];
    int32_t dropped = 0;
    for (int32_t c = 0; c < count; ++c) {
        const int32_t size = cellRecord(cellTable, c)[CellWord::size];
        drop[c] = size < minArea || (maxArea > 0 && size > maxArea);
        dropped += drop[c];
    }
    if (dropped == 0) return 0;
    for (int64_t p = 0; p < pixels; ++p) {
        if (labels[p] >= 0 && drop[labels[p]]) labels[p] = -2;
    }
    return dropped;
}

}  // namespace vanto
