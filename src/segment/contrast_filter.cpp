#include "segment/contrast_filter.h"

#include <algorithm>

namespace vanto {

namespace {

constexpr int32_t kRingReach = 3;

// The gray of rank k (0-based, darkest first) of a 256-bin histogram.
int32_t grayOfRank(const int32_t* histogram, int64_t k) {
    int64_t seen = 0;
    for (int32_t g = 0; g < 256; ++g) {
        seen += histogram[g];
        if (seen > k) return g;
    }
    return 255;
}

int64_t total(const int32_t* histogram) {
    int64_t n = 0;
    for (int32_t g = 0; g < 256; ++g) n += histogram[g];
    return n;
}

// True when column x holds a cell pixel in rows y0 .. y1.
bool columnHoldsCell(const int32_t* labels, int32_t w, int32_t x, int32_t y0, int32_t y1) {
    for (int32_t y = y0; y <= y1; ++y)
        if (labels[static_cast<int64_t>(y) * w + x] >= 0) return true;
    return false;
}

// Adds each pixel of no cell to the ring histogram of every cell within reach of it, once.
// Most pixels of a frame have no cell within reach: a pixel is looked at closely only when one
// of the columns x - reach .. x + reach holds a cell pixel in rows y - reach .. y + reach (the
// square around the disk). Scanning a row left to right, lastCellColumn is the rightmost such
// column at or before x + reach, so the test is one comparison; the pixels looked at, and the
// order of the counts, are those of a plain scan of every pixel.
void countRings(const int32_t* labels, int32_t w, int32_t h, const uint8_t* gray, int32_t* ring) {
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = std::max(0, y - kRingReach), y1 = std::min(h - 1, y + kRingReach);
        int32_t lastCellColumn = -2 * kRingReach - 1;
        for (int32_t x = 0; x < std::min(kRingReach, w); ++x)
            if (columnHoldsCell(labels, w, x, y0, y1)) lastCellColumn = x;
        for (int32_t x = 0; x < w; ++x) {
            if (x + kRingReach < w && columnHoldsCell(labels, w, x + kRingReach, y0, y1)) lastCellColumn = x + kRingReach;
            const int64_t p = static_cast<int64_t>(y) * w + x;
            if (labels[p] >= 0 || lastCellColumn < x - kRingReach) continue;
            int32_t seen[(2 * kRingReach + 1) * (2 * kRingReach + 1)];
            int32_t seenCount = 0;
            for (int32_t dy = -kRingReach; dy <= kRingReach; ++dy) {
                for (int32_t dx = -kRingReach; dx <= kRingReach; ++dx) {
                    const int32_t xx = x + dx, yy = y + dy;
                    if (dx * dx + dy * dy > kRingReach * kRingReach || xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
                    const int32_t c = labels[static_cast<int64_t>(yy) * w + xx];
                    if (c < 0 || std::find(seen, seen + seenCount, c) != seen + seenCount) continue;
                    seen[seenCount++] = c;
                    ++ring[static_cast<int64_t>(c) * 256 + gray[p]];
                }
            }
        }
    }
}

}  // namespace

int32_t dropLowContrastCells(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray,
                             double minContrast, int32_t* inner, int32_t* ring) {
    const int64_t n = static_cast<int64_t>(w) * h;
    std::fill_n(inner, static_cast<int64_t>(count) * 256, 0);
    std::fill_n(ring, static_cast<int64_t>(count) * 256, 0);
    for (int64_t p = 0; p < n; ++p) {
        if (labels[p] >= 0) ++inner[static_cast<int64_t>(labels[p]) * 256 + gray[p]];
    }
    countRings(labels, w, h, gray, ring);
    // inner[c * 256] becomes the drop mark of cell c once its histograms are read.
    int32_t dropped = 0;
    for (int32_t c = 0; c < count; ++c) {
        const int32_t* cellRing = ring + static_cast<int64_t>(c) * 256;
        int32_t* cellInner = inner + static_cast<int64_t>(c) * 256;
        const int64_t ringSize = total(cellRing);
        bool drop = false;
        if (ringSize > 0) {
            const int32_t median = grayOfRank(cellRing, (ringSize - 1) / 2);
            const int32_t dark = grayOfRank(cellInner, (total(cellInner) - 1) / 10);
            drop = median - dark < minContrast;
        }
        cellInner[0] = drop ? 1 : 0;
        dropped += drop;
    }
    for (int64_t p = 0; p < n; ++p) {
        if (labels[p] >= 0 && inner[static_cast<int64_t>(labels[p]) * 256] == 1) labels[p] = -2;
    }
    return dropped;
}

}  // namespace vanto
