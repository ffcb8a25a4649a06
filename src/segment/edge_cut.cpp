#include "segment/edge_cut.h"

#include <algorithm>

#include "segment/cell_rings.h"

namespace vanto {

int64_t cutCellEdges(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray, double fraction,
                     int32_t* inner, int32_t* ring) {
    if (count <= 0) return 0;
    const int64_t n = static_cast<int64_t>(w) * h;
    countCellHistograms(labels, w, h, count, gray, inner, ring);
    // The cut of each cell, kept in the first entry of its inner histogram's block once the
    // histogram is read: the highest gray that stays (-1: the cell stays whole).
    for (int32_t c = 0; c < count; ++c) {
        int32_t* in = inner + static_cast<int64_t>(c) * 256;
        const int32_t* rg = ring + static_cast<int64_t>(c) * 256;
        const int64_t size = histogramTotal(in), ringSize = histogramTotal(rg);
        int32_t keepUpTo = -1;
        if (size > 0 && ringSize > 0) {
            const int32_t dark = grayOfRank(in, (size - 1) / 10);
            const int32_t background = grayOfRank(rg, (ringSize - 1) / 2);
            if (background > dark) {
                const double cut = dark + fraction * (background - dark);
                keepUpTo = std::min(255, static_cast<int32_t>(cut));  // gray <= cut for whole grays
            }
        }
        in[0] = keepUpTo;
    }
    int64_t cutOff = 0;
    for (int64_t p = 0; p < n; ++p) {
        const int32_t cell = labels[p];
        if (cell < 0) continue;
        const int32_t keepUpTo = inner[static_cast<int64_t>(cell) * 256];
        if (keepUpTo >= 0 && gray[p] > keepUpTo) {
            labels[p] = -2;
            ++cutOff;
        }
    }
    return cutOff;
}

}  // namespace vanto
