#include "segment/cell_rings.h"

#include <algorithm>
#include <cstdint>

#include "segment/free_pixels_near_cells.h"

namespace vanto {

namespace {

constexpr int32_t kRingReach = 3;

// The offsets of the disk of radius kRingReach but its centre.
struct RingOffset {
    int32_t dx, dy;
};
constexpr int32_t kDiskSpan = 2 * kRingReach + 1;
constexpr int32_t kMaxRingOffsets = kDiskSpan * kDiskSpan;

int32_t ringOffsets(RingOffset* out) {
    int32_t n = 0;
    for (int32_t dy = -kRingReach; dy <= kRingReach; ++dy)
        for (int32_t dx = -kRingReach; dx <= kRingReach; ++dx)
            if ((dx != 0 || dy != 0) && dx * dx + dy * dy <= kRingReach * kRingReach) out[n++] = {dx, dy};
    return n;
}

// Adds each pixel of no cell to the ring histogram of every cell within reach of it, once. A
// pixel with a single cell within reach (most of them) is told by the disc's lowest and highest
// label alone. The counts are the same whatever the order the pixels are taken in.
void countRings(const int32_t* labels, int32_t w, int32_t h, const uint8_t* gray, int32_t* ring) {
    RingOffset offsets[kMaxRingOffsets];
    const int32_t offsetCount = ringOffsets(offsets);
    int64_t step[kMaxRingOffsets];  // the offsets as index steps
    for (int32_t i = 0; i < offsetCount; ++i) step[i] = static_cast<int64_t>(offsets[i].dy) * w + offsets[i].dx;
    forEachFreePixelNearCells<kRingReach>(labels, w, h, kRingReach, [&](int32_t x, int32_t y, int64_t p,
                                                                        DiscLabels disc) {
        if (disc.singleCell()) {
            ++ring[static_cast<int64_t>(disc.highest) * 256 + gray[p]];
            return;
        }
        const bool inner = y >= kRingReach && y + kRingReach < h && x >= kRingReach && x + kRingReach < w;
        int32_t seen[kMaxRingOffsets];
        int32_t seenCount = 0;
        for (int32_t k = 0; k < offsetCount; ++k) {
            if (!inner) {
                const int32_t xx = x + offsets[k].dx, yy = y + offsets[k].dy;
                if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
            }
            const int32_t c = labels[p + step[k]];
            if (c < 0 || std::find(seen, seen + seenCount, c) != seen + seenCount) continue;
            seen[seenCount++] = c;
            ++ring[static_cast<int64_t>(c) * 256 + gray[p]];
        }
    });
}

}  // namespace

void countCellHistograms(const int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray,
                         int32_t* inner, int32_t* ring) {
    const int64_t n = static_cast<int64_t>(w) * h;
    std::fill_n(inner, static_cast<int64_t>(count) * 256, 0);
    std::fill_n(ring, static_cast<int64_t>(count) * 256, 0);
    for (int64_t p = 0; p < n; ++p) {
        if (labels[p] >= 0) ++inner[static_cast<int64_t>(labels[p]) * 256 + gray[p]];
    }
    countRings(labels, w, h, gray, ring);
}

int32_t grayOfRank(const int32_t* histogram, int64_t k) {
    int64_t seen = 0;
    for (int32_t g = 0; g < 256; ++g) {
        seen += histogram[g];
        if (seen > k) return g;
    }
    return 255;
}

int64_t histogramTotal(const int32_t* histogram) {
    int64_t n = 0;
    for (int32_t g = 0; g < 256; ++g) n += histogram[g];
    return n;
}

}  // namespace vanto
