#include "segment/grow_cells.h"

#include <algorithm>
#include <cstdlib>

#include "segment/free_pixels_near_cells.h"

namespace vanto {

namespace {

struct Offset {
    int32_t dx, dy, d2;
};

constexpr int32_t kMaxOffsets = (2 * kMaxGrow + 1) * (2 * kMaxGrow + 1);

// The offsets within distance r but the centre, nearest first (then row, then column order).
int32_t discOffsets(int32_t r, Offset* out) {
    int32_t n = 0;
    for (int32_t dy = -r; dy <= r; ++dy) {
        for (int32_t dx = -r; dx <= r; ++dx) {
            const int32_t d2 = dx * dx + dy * dy;
            if (d2 > 0 && d2 <= r * r) out[n++] = {dx, dy, d2};
        }
    }
    std::stable_sort(out, out + n, [](const Offset& a, const Offset& b) { return a.d2 < b.d2; });
    return n;
}

// The lowest cell number among the cell pixels nearest to (x, y) within the offsets, or -1.
int32_t nearestCell(const int32_t* copy, int32_t w, int32_t h, int32_t x, int32_t y, const Offset* offsets,
                    int32_t count) {
    int32_t best = -1;
    int32_t bestD2 = 0;
    for (int32_t i = 0; i < count; ++i) {
        const Offset& o = offsets[i];
        if (best >= 0 && o.d2 > bestD2) break;
        const int32_t xx = x + o.dx, yy = y + o.dy;
        if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
        const int32_t c = copy[static_cast<int64_t>(yy) * w + xx];
        if (c >= 0 && (best < 0 || c < best)) {
            best = c;
            bestD2 = o.d2;
        }
    }
    return best;
}

// Every pixel of no cell whose nearest cell pixel is within r joins the lowest cell number at
// that distance; one with a single cell within r joins it without a search.
void grow(int32_t* labels, int32_t w, int32_t h, int32_t r, const int32_t* copy) {
    Offset offsets[kMaxOffsets];
    const int32_t count = discOffsets(r, offsets);
    forEachFreePixelNearCells<kMaxGrow>(copy, w, h, r, [&](int32_t x, int32_t y, int64_t p, DiscLabels disc) {
        labels[p] = disc.singleCell() ? disc.highest : nearestCell(copy, w, h, x, y, offsets, count);
    });
}

// Every cell pixel with a pixel of another value (another cell or none) within r becomes -2;
// the search of each pixel ends at the first such pixel. Pixels at least r from the frame's
// edges take the offsets as index steps, without edge tests.
void shrink(int32_t* labels, int32_t w, int32_t h, int32_t r, const int32_t* copy) {
    Offset offsets[kMaxOffsets];
    const int32_t count = discOffsets(r, offsets);
    int64_t step[kMaxOffsets];
    for (int32_t i = 0; i < count; ++i) step[i] = static_cast<int64_t>(offsets[i].dy) * w + offsets[i].dx;
    for (int32_t y = 0; y < h; ++y) {
        const bool innerRow = y >= r && y + r < h;
        for (int32_t x = 0; x < w; ++x) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            const int32_t own = copy[p];
            if (own < 0) continue;
            bool whole = true;
            if (innerRow && x >= r && x + r < w) {
                for (int32_t i = 0; i < count && whole; ++i) whole = copy[p + step[i]] == own;
            } else {
                for (int32_t i = 0; i < count && whole; ++i) {
                    const int32_t xx = x + offsets[i].dx, yy = y + offsets[i].dy;
                    if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
                    whole = copy[static_cast<int64_t>(yy) * w + xx] == own;
                }
            }
            if (!whole) labels[p] = -2;
        }
    }
}

}  // namespace

void growCells(int32_t* labels, int32_t w, int32_t h, int32_t k, int32_t* copy) {
    if (k == 0) return;
    const int32_t r = std::min(std::abs(k), kMaxGrow);
    std::copy_n(labels, static_cast<int64_t>(w) * h, copy);
    if (k > 0) grow(labels, w, h, r, copy);
    else shrink(labels, w, h, r, copy);
}

}  // namespace vanto
