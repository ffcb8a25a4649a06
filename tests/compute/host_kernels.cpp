#include "compute/host_kernels.h"

#include "model/records.h"

namespace vanto {

namespace {

int32_t nearestOtherLabel(const int32_t* from, const int32_t* other, const NeighbourhoodTables& t, int32_t x,
                          int32_t y, int32_t width, int32_t height) {
    if (from[static_cast<int64_t>(y) * width + x] < 0) return -1;
    for (int k = 0; k < kWindowOffsets; ++k) {
        const int32_t qx = x + t.offsetDx[k];
        const int32_t qy = y + t.offsetDy[k];
        if (qx < 0 || qy < 0 || qx >= width || qy >= height) continue;
        const int32_t v = other[static_cast<int64_t>(qy) * width + qx];
        if (v >= 0) return v;
    }
    return -1;
}

}  // namespace

void addTwoHost(const int32_t* prevLabels, const int32_t* curLabels, const NeighbourhoodTables& tables, int32_t width,
                int32_t height, int32_t* outA, int32_t* outB) {
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int64_t p = static_cast<int64_t>(y) * width + x;
            outA[p] = nearestOtherLabel(prevLabels, curLabels, tables, x, y, width, height);
            outB[p] = nearestOtherLabel(curLabels, prevLabels, tables, x, y, width, height);
        }
    }
}

void addOneHost(const int32_t* cellTable, int32_t width, int32_t height, int32_t* out) {
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            int32_t best = -1;
            uint64_t bestDistance = 0;
            for (int32_t k = 0; k < kTableRecords; ++k) {
                const int32_t* rec = cellRecord(cellTable, k);
                if (rec[CellWord::smallFlag] == kEndMarker) break;
                // Exact for any 32-bit centre while frame sides stay below 2^16, as on the device: each
                // square is below 2^63, their sum below 2^64.
                const int64_t dx = static_cast<int64_t>(rec[CellWord::centerX]) - x;
                const int64_t dy = static_cast<int64_t>(rec[CellWord::centerY]) - y;
                const uint64_t d = static_cast<uint64_t>(dx * dx) + static_cast<uint64_t>(dy * dy);
                if (best < 0 || d < bestDistance) {
                    best = k;
                    bestDistance = d;
                }
            }
            out[static_cast<int64_t>(y) * width + x] = best;
        }
    }
}

}  // namespace vanto
