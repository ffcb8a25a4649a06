#include "segment/edge_cut.h"

#include <algorithm>

namespace vanto {

namespace {

constexpr int32_t kReach = 3;  // the ring: Euclidean distance 1 to 3

// The gray value of the given 0-based rank from the darkest in a 256-entry histogram.
int32_t grayOfRank(const int32_t* histogram, int64_t rank) {
    int64_t seen = 0;
    for (int32_t g = 0; g < 256; ++g) {
        seen += histogram[g];
        if (seen > rank) return g;
    }
    return 255;
}

// Marks in near (w x h) each pixel with a cell pixel in the square of reach around it: a
// sliding count along each row, then along each column of the row marks.
void markNearCells(const int32_t* labels, int32_t w, int32_t h, int32_t* near) {
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* row = labels + static_cast<int64_t>(y) * w;
        int32_t* out = near + static_cast<int64_t>(y) * w;
        int32_t inWindow = 0;
        for (int32_t x = 0; x < std::min(kReach, w); ++x) inWindow += row[x] >= 0;
        for (int32_t x = 0; x < w; ++x) {
            if (x + kReach < w) inWindow += row[x + kReach] >= 0;
            if (x - kReach - 1 >= 0) inWindow -= row[x - kReach - 1] >= 0;
            out[x] = inWindow;
        }
    }
    for (int32_t x = 0; x < w; ++x) {
        // Column counts of the row marks, written over them: a row's mark is kept in lagged
        // before it is overwritten, for when it leaves the window.
        int32_t inWindow = 0;
        for (int32_t y = 0; y < std::min(kReach, h); ++y) inWindow += near[static_cast<int64_t>(y) * w + x] > 0;
        int32_t lagged[kReach + 1] = {};  // the row marks of the last kReach + 1 rows, as read
        for (int32_t y = 0; y < h; ++y) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            if (y + kReach < h) inWindow += near[p + static_cast<int64_t>(kReach) * w] > 0;
            if (y - kReach - 1 >= 0) inWindow -= lagged[(y - kReach - 1) % (kReach + 1)];
            lagged[y % (kReach + 1)] = near[p] > 0;
            near[p] = inWindow;
        }
    }
}

// Adds each ring pixel's gray to the ring histogram of every cell that has a pixel within
// reach of it, once per cell. near: markNearCells' marks.
void countRings(const int32_t* labels, int32_t w, int32_t h, const uint8_t* gray, const int32_t* near,
                int32_t* ring) {
    int32_t seen[(2 * kReach + 1) * (2 * kReach + 1)];
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            if (labels[p] >= 0 || near[p] == 0) continue;
            int32_t found = 0;
            for (int32_t dy = -kReach; dy <= kReach; ++dy) {
                const int32_t yy = y + dy;
                if (yy < 0 || yy >= h) continue;
                for (int32_t dx = -kReach; dx <= kReach; ++dx) {
                    const int32_t xx = x + dx;
                    if (xx < 0 || xx >= w || dx * dx + dy * dy > kReach * kReach) continue;
                    const int32_t cell = labels[static_cast<int64_t>(yy) * w + xx];
                    if (cell < 0 || std::find(seen, seen + found, cell) != seen + found) continue;
                    seen[found++] = cell;
                    ++ring[static_cast<int64_t>(cell) * 256 + gray[p]];
                }
            }
        }
    }
}

}  // namespace

int64_t cutCellEdges(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray, double fraction,
                     int32_t* inner, int32_t* ring, int32_t* near) {
    if (count <= 0) return 0;
    const int64_t n = static_cast<int64_t>(w) * h;
    std::fill_n(inner, static_cast<int64_t>(count) * 256, 0);
    std::fill_n(ring, static_cast<int64_t>(count) * 256, 0);
    for (int64_t p = 0; p < n; ++p)
        if (labels[p] >= 0) ++inner[static_cast<int64_t>(labels[p]) * 256 + gray[p]];
    markNearCells(labels, w, h, near);
    countRings(labels, w, h, gray, near, ring);
    // The cut of each cell, kept in the first entry of its inner histogram's block once the
    // histogram is read: the highest gray that stays (-1: the cell stays whole).
    for (int32_t c = 0; c < count; ++c) {
        int32_t* in = inner + static_cast<int64_t>(c) * 256;
        const int32_t* rg = ring + static_cast<int64_t>(c) * 256;
        int64_t size = 0, ringSize = 0;
        for (int32_t g = 0; g < 256; ++g) {
            size += in[g];
            ringSize += rg[g];
        }
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
