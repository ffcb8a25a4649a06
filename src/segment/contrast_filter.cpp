#include "segment/contrast_filter.h"

#include "segment/cell_rings.h"

namespace vanto {

int32_t dropLowContrastCells(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray,
                             double minContrast, int32_t* inner, int32_t* ring) {
    const int64_t n = static_cast<int64_t>(w) * h;
    countCellHistograms(labels, w, h, count, gray, inner, ring);
    // inner[c * 256] becomes the drop mark of cell c once its histograms are read.
    int32_t dropped = 0;
    for (int32_t c = 0; c < count; ++c) {
        const int32_t* cellRing = ring + static_cast<int64_t>(c) * 256;
        int32_t* cellInner = inner + static_cast<int64_t>(c) * 256;
        const int64_t ringSize = histogramTotal(cellRing);
        bool drop = false;
        if (ringSize > 0) {
            const int32_t median = grayOfRank(cellRing, (ringSize - 1) / 2);
            const int32_t dark = grayOfRank(cellInner, (histogramTotal(cellInner) - 1) / 10);
            drop = median - dark < minContrast;
        }
        cellInner[0] = drop ? 1 : 0;
        dropped += drop;
    }
    if (dropped == 0) return 0;
    for (int64_t p = 0; p < n; ++p) {
        if (labels[p] >= 0 && inner[static_cast<int64_t>(labels[p]) * 256] == 1) labels[p] = -2;
    }
    return dropped;
}

}  // namespace vanto
