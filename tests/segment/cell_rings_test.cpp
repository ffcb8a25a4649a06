// The ring and inner histograms the cell options judge cells by, against rings found from the
// distance between every pair of pixels: crowded cells (a ring pixel within reach of two or
// three cells counts once for each), cells cut by the frame's edges, and pixels far from any.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "segment/cell_rings.h"

namespace vanto {
namespace {

struct Histograms {
    std::vector<int32_t> inner, ring;
};

Histograms bruteForce(const std::vector<int32_t>& labels, const std::vector<uint8_t>& gray, int32_t W, int32_t H,
                      int32_t count) {
    Histograms out{std::vector<int32_t>(count * 256), std::vector<int32_t>(count * 256)};
    for (int32_t p = 0; p < W * H; ++p) {
        if (labels[p] >= 0) {
            ++out.inner[labels[p] * 256 + gray[p]];
            continue;
        }
        for (int32_t c = 0; c < count; ++c) {
            bool near = false;
            for (int32_t q = 0; q < W * H && !near; ++q) {
                const int32_t dx = p % W - q % W, dy = p / W - q / W;
                near = labels[q] == c && dx * dx + dy * dy <= 9;
            }
            if (near) ++out.ring[c * 256 + gray[p]];
        }
    }
    return out;
}

// Cells as random blobs (discs and thin bars, so that narrow gaps between cells of different
// numbers are common); background pixels of two negative kinds, as segmentation leaves them.
void checkRandomFrames(int32_t W, int32_t H, int32_t count, unsigned seeds) {
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed * 7919u + W);
        std::vector<int32_t> labels(W * H, -1);
        for (int32_t p = 0; p < W * H; ++p)
            if (rng() % 5 == 0) labels[p] = -2;
        for (int32_t c = 0; c < count; ++c) {
            const int32_t cx = rng() % W, cy = rng() % H, r2 = rng() % 10, bar = rng() % 3;
            for (int32_t y = 0; y < H; ++y)
                for (int32_t x = 0; x < W; ++x) {
                    const int32_t dx = x - cx, dy = y - cy;
                    const bool in = bar == 0 ? dy == 0 && dx >= 0 && dx < 6 : dx * dx + dy * dy <= r2;
                    if (in && labels[y * W + x] < 0) labels[y * W + x] = c;
                }
        }
        std::vector<uint8_t> gray(W * H);
        for (auto& g : gray) g = static_cast<uint8_t>(rng());
        Histograms got{std::vector<int32_t>(count * 256, 7), std::vector<int32_t>(count * 256, 7)};
        countCellHistograms(labels.data(), W, H, count, gray.data(), got.inner.data(), got.ring.data());
        const Histograms expected = bruteForce(labels, gray, W, H, count);
        ASSERT_EQ(got.inner, expected.inner) << W << " x " << H << ", seed " << seed;
        ASSERT_EQ(got.ring, expected.ring) << W << " x " << H << ", seed " << seed;
    }
}

TEST(CellRings, CrowdedCellsCountEachRingPixelOnceForEveryCellInReach) {
    checkRandomFrames(24, 18, 14, 30);
    checkRandomFrames(7, 9, 4, 30);  // every pixel within reach of an edge
    checkRandomFrames(61, 5, 6, 10);
}

TEST(CellRings, FarPixelsAndASingleCellsRing) {
    // One pixel cell in a 15 x 15 frame: its ring is the 28 pixels of the disk around it.
    const int32_t W = 15, H = 15;
    std::vector<int32_t> labels(W * H, -1);
    labels[7 * W + 7] = 0;
    std::vector<uint8_t> gray(W * H, 200);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            if ((x - 7) * (x - 7) + (y - 7) * (y - 7) <= 9) gray[y * W + x] = 30;
    gray[7 * W + 7] = 10;
    std::vector<int32_t> inner(256), ring(256);
    countCellHistograms(labels.data(), W, H, 1, gray.data(), inner.data(), ring.data());
    EXPECT_EQ(ring[30], 28);
    EXPECT_EQ(histogramTotal(ring.data()), 28);
    EXPECT_EQ(inner[10], 1);
    EXPECT_EQ(grayOfRank(ring.data(), 27), 30);
    EXPECT_EQ(grayOfRank(ring.data(), 28), 255);
}

}  // namespace
}  // namespace vanto
