#include "segment/grow_cells.h"

#include <algorithm>
#include <cstdlib>

namespace vanto {

namespace {

struct Offset {
    int32_t dx, dy, d2;
};

constexpr int32_t kMaxOffsets = (2 * kMaxGrow + 1) * (2 * kMaxGrow + 1);
constexpr int32_t kRemoved = 1 << 30;  // shrinking: the mark of a pixel that leaves its cell

// The offsets within distance r but the centre, nearest first (then row, then column order);
// firstAt[d2] (d2 = 0 .. r^2 + 1): the first offset at squared distance d2 or more.
int32_t discOffsets(int32_t r, Offset* out, int32_t* firstAt) {
    int32_t n = 0;
    for (int32_t dy = -r; dy <= r; ++dy) {
        for (int32_t dx = -r; dx <= r; ++dx) {
            const int32_t d2 = dx * dx + dy * dy;
            if (d2 > 0 && d2 <= r * r) out[n++] = {dx, dy, d2};
        }
    }
    std::stable_sort(out, out + n, [](const Offset& a, const Offset& b) { return a.d2 < b.d2; });
    for (int32_t d2 = 0, i = 0; d2 <= r * r + 1; ++d2) {
        while (i < n && out[i].d2 < d2) ++i;
        firstAt[d2] = i;
    }
    return n;
}

// Growing: in each pixel of no cell, copy (negative there) is set to -1 - v, v the distance
// along its row to the nearest cell pixel (r + 1 when none is within r).
void markRowDistancesToCells(int32_t* copy, int32_t w, int32_t h, int32_t r) {
    const int32_t far = r + 1;
    for (int32_t y = 0; y < h; ++y) {
        int32_t* row = copy + static_cast<int64_t>(y) * w;
        int32_t v = far;
        for (int32_t x = 0; x < w; ++x) {
            if (row[x] >= 0) v = 0;
            else row[x] = -1 - (v = std::min(v + 1, far));
        }
        v = far;
        for (int32_t x = w - 1; x >= 0; --x) {
            if (row[x] >= 0) v = 0;
            else {
                v = std::min(v + 1, far);
                row[x] = std::max(row[x], -1 - v);
            }
        }
    }
}

// The least squared distance from a pixel of no cell at (x, y) to a cell pixel, from the row
// distances of the pixels of column x within r rows; r^2 + 1 or more when none is within r.
int32_t nearestCellD2(const int32_t* copy, int32_t w, int32_t h, int32_t x, int32_t y, int32_t r) {
    const auto along = [&](int32_t yy) {
        const int32_t c = copy[static_cast<int64_t>(yy) * w + x];
        return c >= 0 ? 0 : -1 - c;
    };
    const int32_t v = along(y);
    int32_t best = v * v;
    for (int32_t dy = 1; dy <= r && dy * dy < best; ++dy) {
        if (y - dy >= 0) {
            const int32_t u = along(y - dy);
            best = std::min(best, dy * dy + u * u);
        }
        if (y + dy < h) {
            const int32_t u = along(y + dy);
            best = std::min(best, dy * dy + u * u);
        }
    }
    return best;
}

// The lowest cell number among the cell pixels at squared distance d2 from (x, y).
int32_t lowestCellAt(const int32_t* copy, int32_t w, int32_t h, int32_t x, int32_t y, const Offset* offsets,
                     int32_t first, int32_t end) {
    int32_t best = -1;
    for (int32_t i = first; i < end; ++i) {
        const int32_t xx = x + offsets[i].dx, yy = y + offsets[i].dy;
        if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
        const int32_t c = copy[static_cast<int64_t>(yy) * w + xx];
        if (c >= 0 && (best < 0 || c < best)) best = c;
    }
    return best;
}

// Every pixel of no cell whose nearest cell pixel is within r joins the lowest cell number at
// that distance. The exact nearest distance comes from the row distances (a column search of
// at most 2 r + 1 pixels), so the pixels far from every cell cost that search alone, and the
// others look only at the offsets of that one distance.
void grow(int32_t* labels, int32_t w, int32_t h, int32_t r, int32_t* copy) {
    Offset offsets[kMaxOffsets];
    int32_t firstAt[kMaxGrow * kMaxGrow + 2];
    discOffsets(r, offsets, firstAt);
    markRowDistancesToCells(copy, w, h, r);
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* row = copy + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            if (row[x] >= 0) continue;
            const int32_t d2 = nearestCellD2(copy, w, h, x, y, r);
            if (d2 > r * r) continue;
            labels[static_cast<int64_t>(y) * w + x] =
                lowestCellAt(copy, w, h, x, y, offsets, firstAt[d2], firstAt[d2 + 1]);
        }
    }
}

// Every cell pixel with a pixel of another value (another cell or none) within r becomes -2.
// labels first holds, in each cell pixel, the distance along its row to the nearest pixel of
// another value (r + 1 when none is within r; the frame's edge is no such pixel), then
// kRemoved is added to those that leave; copy keeps the labels as they were.
void shrink(int32_t* labels, int32_t w, int32_t h, int32_t r, const int32_t* copy) {
    const int32_t far = r + 1;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* was = copy + static_cast<int64_t>(y) * w;
        int32_t* row = labels + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            if (was[x] < 0) continue;
            row[x] = x == 0 ? far : was[x - 1] == was[x] ? std::min(row[x - 1] + 1, far) : 1;
        }
        for (int32_t x = w - 2; x >= 0; --x) {
            if (was[x] >= 0) row[x] = std::min(row[x], was[x + 1] == was[x] ? row[x + 1] + 1 : 1);
        }
    }
    const int32_t r2 = r * r;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            const int32_t own = copy[p];
            if (own < 0) continue;
            const int32_t v = labels[p] & (kRemoved - 1);
            bool leaves = v * v <= r2;
            for (int32_t dy = 1; dy <= r && !leaves; ++dy) {
                for (const int32_t yy : {y - dy, y + dy}) {
                    if (yy < 0 || yy >= h) continue;
                    const int64_t q = static_cast<int64_t>(yy) * w + x;
                    const int32_t u = copy[q] == own ? labels[q] & (kRemoved - 1) : 0;
                    leaves = leaves || dy * dy + u * u <= r2;
                }
            }
            if (leaves) labels[p] += kRemoved;
        }
    }
    const int64_t n = static_cast<int64_t>(w) * h;
    for (int64_t p = 0; p < n; ++p) {
        if (copy[p] >= 0) labels[p] = labels[p] >= kRemoved ? -2 : copy[p];
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
