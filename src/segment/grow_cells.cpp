#include "segment/grow_cells.h"

#include <algorithm>
#include <cstdlib>

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

// The cell a free pixel joins: the lowest cell number at the smallest distance that holds one.
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

bool wholeDisc(const int32_t* copy, int32_t w, int32_t h, int32_t x, int32_t y, const Offset* offsets, int32_t count) {
    const int32_t own = copy[static_cast<int64_t>(y) * w + x];
    for (int32_t i = 0; i < count; ++i) {
        const int32_t xx = x + offsets[i].dx, yy = y + offsets[i].dy;
        if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
        if (copy[static_cast<int64_t>(yy) * w + xx] != own) return false;
    }
    return true;
}

}  // namespace

void growCells(int32_t* labels, int32_t w, int32_t h, int32_t k, int32_t* copy) {
    if (k == 0) return;
    Offset offsets[kMaxOffsets];
    const int32_t count = discOffsets(std::min(std::abs(k), kMaxGrow), offsets);
    std::copy_n(labels, static_cast<int64_t>(w) * h, copy);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            if (k > 0 && copy[p] < 0) {
                const int32_t c = nearestCell(copy, w, h, x, y, offsets, count);
                if (c >= 0) labels[p] = c;
            } else if (k < 0 && copy[p] >= 0 && !wholeDisc(copy, w, h, x, y, offsets, count)) {
                labels[p] = -2;
            }
        }
    }
}

}  // namespace vanto
