// -edge-cut on drawn cells whose answer is known by construction (a dark disc with a soft rim
// cut back to the disc) and on random cells against rings and percentiles from brute-force
// distances.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "segment/edge_cut.h"

namespace vanto {
namespace {

// A disc of gray 40 and radius 5 with a rim of gray 100 out to radius 7 on a background of
// 120, centred in a 24 x 20 frame; the cell as segmented covers the rim too.
struct SoftDisc {
    static constexpr int32_t W = 24, H = 20, CX = 11, CY = 9;
    std::vector<int32_t> labels = std::vector<int32_t>(W * H, -1);
    std::vector<uint8_t> gray = std::vector<uint8_t>(W * H, 120);
    std::vector<int32_t> inner = std::vector<int32_t>(256), ring = std::vector<int32_t>(256);
    SoftDisc() {
        for (int32_t y = 0; y < H; ++y) {
            for (int32_t x = 0; x < W; ++x) {
                const int32_t d2 = (x - CX) * (x - CX) + (y - CY) * (y - CY);
                if (d2 <= 49) labels[y * W + x] = 0;
                if (d2 <= 49) gray[y * W + x] = d2 <= 25 ? 40 : 100;
            }
        }
    }
    int64_t cut(double f) {
        return cutCellEdges(labels.data(), W, H, 1, gray.data(), f, inner.data(), ring.data());
    }
    // The cell cut back to radius 5: the rim's pixels marked -2.
    std::vector<int32_t> cutBack() const {
        std::vector<int32_t> out(W * H, -1);
        for (int32_t y = 0; y < H; ++y) {
            for (int32_t x = 0; x < W; ++x) {
                const int32_t d2 = (x - CX) * (x - CX) + (y - CY) * (y - CY);
                if (d2 <= 49) out[y * W + x] = d2 <= 25 ? 0 : -2;
            }
        }
        return out;
    }
};

TEST(EdgeCut, TheSoftRimIsCutBackToTheDisc) {
    // Dark level 40 (most of the cell), ring 120: F 0.5 cuts at 80, so the rim of 100 goes.
    SoftDisc s;
    const auto expected = s.cutBack();
    EXPECT_EQ(s.cut(0.5), std::count(expected.begin(), expected.end(), -2));
    EXPECT_EQ(s.labels, expected);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), 0), 81);
    for (int32_t p = 0; p < SoftDisc::W * SoftDisc::H; ++p) {
        if (s.labels[p] == -2) {
            ASSERT_EQ(s.gray[p], 100);
        }
    }
}

TEST(EdgeCut, AGrayAtTheCutStaysAndTheCellNeverVanishes) {
    SoftDisc whole;
    EXPECT_EQ(whole.cut(0.75), 0);  // 40 + 0.75 x 80 = 100: the rim is at most the cut
    SoftDisc cut;
    EXPECT_GT(cut.cut(0.74), 0);
    SoftDisc least;
    least.cut(0.001);  // the cut is 40.08: the dark disc stays
    EXPECT_EQ(std::count(least.labels.begin(), least.labels.end(), 0), 81);
}

TEST(EdgeCut, CellsWithoutRingOrContrastStayWhole) {
    // The whole frame one cell: no ring.
    std::vector<int32_t> labels(12, 0), inner(256), ring(256);
    std::vector<uint8_t> gray = {10, 200, 10, 200, 10, 200, 10, 200, 10, 200, 10, 200};
    EXPECT_EQ(cutCellEdges(labels.data(), 4, 3, 1, gray.data(), 0.5, inner.data(), ring.data()), 0);
    EXPECT_EQ(labels, std::vector<int32_t>(12, 0));
    // A cell as bright as its ring: nothing to cut against.
    SoftDisc flat;
    std::fill(flat.gray.begin(), flat.gray.end(), 90);
    flat.gray[SoftDisc::CY * SoftDisc::W + SoftDisc::CX] = 200;
    EXPECT_EQ(flat.cut(0.5), 0);
}

// What -edge-cut must give, with each cell's ring from the distances between every pair of
// pixels and its percentiles from sorting.
std::vector<int32_t> bruteForceCut(const std::vector<int32_t>& in, const std::vector<uint8_t>& gray, int32_t W,
                                   int32_t H, int32_t count, double f) {
    std::vector<int32_t> out = in;
    for (int32_t c = 0; c < count; ++c) {
        std::vector<int32_t> own, ring;
        for (int32_t p = 0; p < W * H; ++p) {
            if (in[p] == c) own.push_back(gray[p]);
            if (in[p] >= 0) continue;
            bool near = false;
            for (int32_t q = 0; q < W * H && !near; ++q) {
                const int32_t dx = p % W - q % W, dy = p / W - q / W;
                near = in[q] == c && dx * dx + dy * dy <= 9;
            }
            if (near) ring.push_back(gray[p]);
        }
        if (own.empty() || ring.empty()) continue;
        std::sort(own.begin(), own.end());
        std::sort(ring.begin(), ring.end());
        const int32_t dark = own[(own.size() - 1) / 10], background = ring[(ring.size() - 1) / 2];
        if (background <= dark) continue;
        for (int32_t p = 0; p < W * H; ++p)
            if (in[p] == c && gray[p] > dark + f * (background - dark)) out[p] = -2;
    }
    return out;
}

// Random cells on a small crowded frame, and small cells on a larger frame where most pixels
// have no cell within reach (and are passed over by the ring count).
void checkRandomCells(int32_t W, int32_t H, int32_t count, int32_t maxR2, unsigned seeds) {
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed);
        std::vector<int32_t> labels(W * H, -1);
        for (int32_t c = 0; c < count; ++c) {
            const int32_t cx = rng() % W, cy = rng() % H, r2 = 2 + rng() % maxR2;
            for (int32_t y = 0; y < H; ++y)
                for (int32_t x = 0; x < W; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r2 && labels[y * W + x] < 0) labels[y * W + x] = c;
        }
        std::vector<uint8_t> gray(W * H);
        for (int32_t p = 0; p < W * H; ++p)
            gray[p] = static_cast<uint8_t>(labels[p] >= 0 ? rng() % 160 : 60 + rng() % 196);
        for (double f : {0.2, 0.5, 0.9}) {
            std::vector<int32_t> got = labels, inner(count * 256), ring(count * 256);
            const auto expected = bruteForceCut(labels, gray, W, H, count, f);
            const int64_t cutOff =
                cutCellEdges(got.data(), W, H, count, gray.data(), f, inner.data(), ring.data());
            ASSERT_EQ(got, expected) << "seed " << seed << ", fraction " << f;
            ASSERT_EQ(cutOff, std::count(got.begin(), got.end(), -2)) << "seed " << seed;
        }
    }
}

TEST(EdgeCut, RandomCellsAreCutAsTheirRingsSay) {
    checkRandomCells(20, 16, 4, 14, 40);
    checkRandomCells(45, 31, 3, 8, 8);
}

}  // namespace
}  // namespace vanto
