#pragma once
#include <algorithm>
#include <cstdint>

namespace vanto {

// Calls visit(x, y, p) for every pixel of no cell (labels[p] < 0, p = y * w + x) with a cell pixel
// in the square of side 2 r + 1 around it, row by row and left to right; 0 <= r <= MaxReach.
// Most pixels of a frame have no cell that near and are passed over cheaply: for a chunk of a
// row, below[] holds the AND of the labels of each column over rows y - r .. y + r, negative
// exactly when none of them is a cell's.
template <int32_t MaxReach, class Visit>
void forEachFreePixelNearCells(const int32_t* labels, int32_t w, int32_t h, int32_t r, Visit&& visit) {
    constexpr int32_t kChunk = 1024;  // columns of a row handled at once
    int32_t below[kChunk + 2 * MaxReach];
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = std::max(0, y - r), y1 = std::min(h - 1, y + r);
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            // below[i] is column x0 - r + i; columns beyond the frame hold no cell.
            const int32_t from = std::max(0, x0 - r), to = std::min(w, x0 + kChunk + r);
            const int32_t span = to - from, shift = from - (x0 - r);
            std::fill_n(below, kChunk + 2 * r, -1);
            int32_t* column = below + shift;
            for (int32_t yy = y0; yy <= y1; ++yy) {
                const int32_t* row = labels + static_cast<int64_t>(yy) * w + from;
                for (int32_t i = 0; i < span; ++i) column[i] &= row[i];
            }
            const int32_t x1 = std::min(w, x0 + kChunk);
            int32_t nearColumn = -1;  // the last index of below[] at or before x + r that holds a cell
            for (int32_t i = 0; i < 2 * r; ++i)
                if (below[i] >= 0) nearColumn = i;
            for (int32_t x = x0; x < x1; ++x) {
                const int32_t i = x - x0;  // below[i + r] is column x
                if (below[i + 2 * r] >= 0) nearColumn = i + 2 * r;
                const int64_t p = static_cast<int64_t>(y) * w + x;
                if (nearColumn < i || labels[p] >= 0) continue;
                visit(x, y, p);
            }
        }
    }
}

}  // namespace vanto
