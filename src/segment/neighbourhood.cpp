#include "segment/neighbourhood.h"

#include <cassert>
#include <cmath>

#include "segment/index_sort.h"

namespace vanto {

void buildNeighbourhoodTables(NeighbourhoodTables& t, int32_t* index, int32_t* key, int32_t* stack,
                              int64_t stackRanges) {
    for (int i = 0; i < kWindowOffsets; ++i) {
        const int dy = i / 21 - 10;
        const int dx = i % 21 - 10;
        key[i] = dx * dx + dy * dy;
        index[i] = i;
    }
    sortIndicesByIntKey(index, key, kWindowOffsets - 1, stack, stackRanges);

    for (auto& d : t.discCount) d = 0;
    int rayPoints = 0;
    for (int k = 0; k < kWindowOffsets; ++k) {
        const int o = index[k];
        const int dx = o % 21 - 10;
        const int dy = o / 21 - 10;
        // 100 samples from the far end back to the centre; consecutive repeats are dropped.
        int lastX = 11;
        int lastY = 11;
        double w = 1.0;
        do {
            const int px = static_cast<int>(std::round(dx * w));
            const int py = static_cast<int>(std::round(dy * w));
            if (px != lastX || py != lastY) {
                assert(rayPoints < kRayCapacity);
                t.rayX[rayPoints] = static_cast<int8_t>(px);
                t.rayY[rayPoints] = static_cast<int8_t>(py);
                ++rayPoints;
                lastX = px;
                lastY = py;
            }
            w -= 0.01;
        } while (w >= 0);
        t.offsetDx[k] = static_cast<int8_t>(dx);
        t.offsetDy[k] = static_cast<int8_t>(dy);
        t.rayEnd[k] = static_cast<uint16_t>(rayPoints);
        for (int j = 0; j < kDiscEntries; ++j) {
            if (t.discCount[j] == 0 && key[o] > j) t.discCount[j] = static_cast<uint16_t>(k);
        }
    }
}

}  // namespace vanto
