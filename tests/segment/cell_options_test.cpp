// The cell options on small drawn frames whose answer is known by construction or by a plain
// brute-force reference: smoothing against the direct 2-D convolution, the ring contrast on a
// cell and a speck, growing and shrinking against distances to every pixel, the area range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "model/records.h"
#include "segment/area_filter.h"
#include "segment/contrast_filter.h"
#include "segment/gaussian_smoothing.h"
#include "segment/grow_cells.h"

namespace vanto {
namespace {

std::vector<uint8_t> randomGray(int32_t w, int32_t h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> g(static_cast<size_t>(w) * h);
    for (auto& v : g) v = static_cast<uint8_t>(rng() % 256);
    return g;
}

TEST(Smoothing, WeightsAreTheRoundedGaussian) {
    int32_t w[kMaxSmoothRadius + 1];
    EXPECT_EQ(gaussianWeights(1.0, w), 3);
    // 4096 e^(-1/2) = 2484.3, 4096 e^(-2) = 554.3, 4096 e^(-9/2) = 45.5
    EXPECT_EQ(std::vector<int32_t>(w, w + 4), (std::vector<int32_t>{4096, 2484, 554, 46}));
    EXPECT_EQ(gaussianWeights(0.2, w), 1);
    EXPECT_EQ(gaussianWeights(100.0, w), kMaxSmoothRadius);
}

// Frames narrower and wider than the Gaussian, so that rows have clamped ends, a middle or
// both; the largest sigma sums the most (255 S^2 near its bound).
TEST(Smoothing, EqualsTheDirectTwoDimensionalConvolution) {
    for (const auto& [W, H] : {std::pair{13, 9}, std::pair{47, 5}, std::pair{3, 28}}) {
        for (double sigma : {0.5, 1.0, 1.3, 4.0, 10.0}) {
            const auto gray = randomGray(W, H, 7 + W);
            std::vector<int32_t> rowPass(W * H);
            std::vector<uint8_t> out(W * H);
            smoothGray(gray.data(), W, H, sigma, rowPass.data(), out.data());
            int32_t w[kMaxSmoothRadius + 1];
            const int32_t r = gaussianWeights(sigma, w);
            int64_t s = 0;
            for (int32_t i = -r; i <= r; ++i) s += w[std::abs(i)];
            for (int32_t y = 0; y < H; ++y) {
                for (int32_t x = 0; x < W; ++x) {
                    int64_t acc = 0;
                    for (int32_t j = -r; j <= r; ++j) {
                        for (int32_t i = -r; i <= r; ++i) {
                            const int32_t xx = std::clamp(x + i, 0, W - 1), yy = std::clamp(y + j, 0, H - 1);
                            acc += int64_t{w[std::abs(i)]} * w[std::abs(j)] * gray[yy * W + xx];
                        }
                    }
                    ASSERT_EQ(out[y * W + x], (2 * acc + s * s) / (2 * s * s)) << sigma << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(Smoothing, KeepsAFlatFrameAndSoftensAStep) {
    const int32_t W = 8, H = 3;
    std::vector<uint8_t> gray(W * H, 90), out(W * H);
    std::vector<int32_t> rowPass(W * H);
    smoothGray(gray.data(), W, H, 1.0, rowPass.data(), out.data());
    EXPECT_EQ(out, gray);
    for (int32_t y = 0; y < H; ++y) std::fill_n(gray.begin() + y * W + 4, 4, uint8_t{190});
    smoothGray(gray.data(), W, H, 1.0, rowPass.data(), out.data());
    EXPECT_EQ(out[0], 90);
    EXPECT_EQ(out[W - 1], 190);
    EXPECT_GT(out[3], 90);
    EXPECT_LT(out[4], 190);
    EXPECT_EQ(out[3] + out[4], 280);  // symmetric about the step
}

// A 12 x 10 frame of background gray 100: cell 0, a 4 x 4 square of gray 40 with a darkest
// corner of 30; cell 1, one pixel of gray 90 (a speck).
struct ContrastScene {
    static constexpr int32_t W = 12, H = 10;
    std::vector<int32_t> labels = std::vector<int32_t>(W * H, -2);
    std::vector<uint8_t> gray = std::vector<uint8_t>(W * H, 100);
    std::vector<int32_t> inner = std::vector<int32_t>(2 * 256), ring = std::vector<int32_t>(2 * 256);
    ContrastScene() {
        for (int32_t y = 1; y < 5; ++y) {
            for (int32_t x = 1; x < 5; ++x) {
                labels[y * W + x] = 0;
                gray[y * W + x] = 40;
            }
        }
        gray[1 * W + 1] = 30;
        labels[7 * W + 9] = 1;
        gray[7 * W + 9] = 90;
    }
    int32_t drop(double c) { return dropLowContrastCells(labels.data(), W, H, 2, gray.data(), c, inner.data(), ring.data()); }
};

TEST(ContrastFilter, DropsTheSpeckAndKeepsTheCell) {
    ContrastScene s;
    // Cell: ring median 100, 10th percentile of 16 pixels is rank 1 = 40: contrast 60.
    // Speck: 100 - 90 = 10.
    EXPECT_EQ(s.drop(20), 1);
    EXPECT_EQ(s.labels[7 * ContrastScene::W + 9], -2);
    EXPECT_EQ(std::count(s.labels.begin(), s.labels.end(), 0), 16);
}

TEST(ContrastFilter, TheThresholdIsStrictlyBelowAndUsesPercentiles) {
    ContrastScene s;
    EXPECT_EQ(s.drop(10), 0);  // contrast 10 is not below 10
    EXPECT_EQ(s.drop(61), 2);  // the dark corner alone (rank 0) would give 70
    // A darker ring on one side only: 7 of the 41 ring pixels at 50 do not move the median.
    ContrastScene t;
    for (int32_t y = 0; y < ContrastScene::H; ++y) t.gray[y * ContrastScene::W + 0] = 50;
    EXPECT_EQ(t.drop(60), 1);  // the speck only: the cell's contrast is still 60
    EXPECT_EQ(std::count(t.labels.begin(), t.labels.end(), 0), 16);
}

TEST(ContrastFilter, ACellWithoutRingIsKept) {
    std::vector<int32_t> labels(9, 0), inner(256), ring(256);
    std::vector<uint8_t> gray(9, 10);
    EXPECT_EQ(dropLowContrastCells(labels.data(), 3, 3, 1, gray.data(), 100, inner.data(), ring.data()), 0);
    EXPECT_EQ(labels, std::vector<int32_t>(9, 0));
}

// Random blobs of three cells on a 20 x 16 frame (or as many as asked on a W x H frame).
std::vector<int32_t> blobs(unsigned seed, int32_t W = 20, int32_t H = 16, int32_t cells = 3, int32_t maxR2 = 11) {
    std::vector<int32_t> labels(W * H, -2);
    std::mt19937 rng(seed);
    for (int32_t c = 0; c < cells; ++c) {
        const int32_t cx = rng() % W, cy = rng() % H, r2 = 2 + rng() % (maxR2 - 1);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r2 && labels[y * W + x] < 0) labels[y * W + x] = c;
    }
    return labels;
}

// What -grow K must give, from the distances between every pair of pixels.
std::vector<int32_t> bruteForceGrow(const std::vector<int32_t>& in, int32_t W, int32_t H, int32_t k) {
    std::vector<int32_t> out = in;
    for (int32_t p = 0; p < W * H; ++p) {
        int32_t bestD2 = k * k + 1, best = -1;
        bool other = false;
        for (int32_t q = 0; q < W * H; ++q) {
            const int32_t dx = p % W - q % W, dy = p / W - q / W, d2 = dx * dx + dy * dy;
            if (k > 0 && in[p] < 0 && in[q] >= 0 && d2 <= k * k &&
                (d2 < bestD2 || (d2 == bestD2 && in[q] < best))) {
                bestD2 = d2;
                best = in[q];
            }
            if (k < 0 && d2 <= k * k && in[q] != in[p]) other = true;
        }
        if (k > 0 && best >= 0) out[p] = best;
        if (k < 0 && in[p] >= 0 && other) out[p] = -2;
    }
    return out;
}

TEST(GrowCells, GrowingAndShrinkingMatchTheDistancesToEveryPixel) {
    const int32_t W = 20, H = 16;
    std::vector<int32_t> copy(W * H);
    for (unsigned seed = 1; seed <= 6; ++seed) {
        for (int32_t k : {1, 2, 3, 5, -1, -2, -3}) {
            const auto in = blobs(seed);
            auto labels = in;
            growCells(labels.data(), W, H, k, copy.data());
            EXPECT_EQ(labels, bruteForceGrow(in, W, H, k)) << "seed " << seed << " K " << k;
        }
    }
}

// Crowded cells that touch each other and the frame's edges, free pixels of two values (any
// negative value is no cell), and distances up to the largest, whose disc is wider than the
// frame.
TEST(GrowCells, CrowdedCellsAndLongDistancesMatchTheBruteForce) {
    const int32_t W = 37, H = 23;
    std::vector<int32_t> copy(W * H);
    for (unsigned seed = 1; seed <= 4; ++seed) {
        auto in = blobs(seed, W, H, 9, 40);
        for (int32_t p = 0; p < W * H; p += 3)
            if (in[p] < 0) in[p] = -1;
        for (int32_t k : {1, 2, 4, 7, kMaxGrow, -1, -2, -4, -7, -kMaxGrow}) {
            auto labels = in;
            growCells(labels.data(), W, H, k, copy.data());
            EXPECT_EQ(labels, bruteForceGrow(in, W, H, k)) << "seed " << seed << " K " << k;
        }
    }
    // A frame of one row and one of one column: every distance lies along the line.
    for (const auto& [lineW, lineH] : {std::pair{W, 1}, std::pair{1, H}}) {
        std::vector<int32_t> line(W, -2);
        line[3] = 1;
        line[4] = 1;
        line[12] = 0;
        line[20] = 2;
        line.resize(lineW * lineH);
        for (int32_t k : {1, 3, 5, -1, -3}) {
            auto labels = line;
            growCells(labels.data(), lineW, lineH, k, copy.data());
            EXPECT_EQ(labels, bruteForceGrow(line, lineW, lineH, k)) << lineW << " x " << lineH << " K " << k;
        }
    }
}

// Rows are searched for cells in pieces of 1,024 columns: cells across the seam and at the
// right edge of a frame just wider than one piece.
TEST(GrowCells, CellsAcrossTheSeamOfLongRows) {
    const int32_t W = 1040, H = 6;
    std::vector<int32_t> copy(W * H);
    std::mt19937 rng(5);
    for (int32_t round = 0; round < 3; ++round) {
        std::vector<int32_t> in(W * H, -2);
        for (int32_t c = 0; c < 12; ++c) {
            const int32_t x = (c % 2 ? 1016 : 1030) + rng() % 10, y = rng() % H;
            in[y * W + x] = c;
        }
        for (int32_t k : {1, 3, 6}) {
            auto labels = in;
            growCells(labels.data(), W, H, k, copy.data());
            EXPECT_EQ(labels, bruteForceGrow(in, W, H, k)) << "round " << round << " K " << k;
        }
    }
}

TEST(GrowCells, GrowthStopsAtOtherCellsAndTiesGoToTheLowerNumber) {
    // Row: cell 1 at x = 0, free 1..3, cell 0 at x = 4, free 5..6.
    std::vector<int32_t> labels = {1, -2, -2, -2, 0, -2, -2}, copy(7);
    growCells(labels.data(), 7, 1, 2, copy.data());
    EXPECT_EQ(labels, (std::vector<int32_t>{1, 1, 0, 0, 0, 0, 0}));  // x = 2: distance 2 to both
    std::vector<int32_t> bar = {3, 3, 3, 3, 3};
    growCells(bar.data(), 5, 1, -1, copy.data());
    EXPECT_EQ(bar, (std::vector<int32_t>{3, 3, 3, 3, 3}));  // the frame's edge does not shrink a cell
}

// Each cell's ring contrast, from the distances between every pair of pixels: its ring is every
// pixel of no cell within distance 3 of one of its pixels. INT32_MAX for a cell without a ring.
std::vector<int32_t> bruteForceContrasts(const std::vector<int32_t>& in, const std::vector<uint8_t>& gray, int32_t W,
                                         int32_t H, int32_t count) {
    std::vector<int32_t> contrasts(count, INT32_MAX);
    for (int32_t c = 0; c < count; ++c) {
        std::vector<int32_t> inner, ring;
        for (int32_t p = 0; p < W * H; ++p) {
            if (in[p] == c) inner.push_back(gray[p]);
            if (in[p] >= 0) continue;
            bool near = false;
            const int32_t px = p % W, py = p / W;  // every pixel of the square around the disk
            for (int32_t qy = std::max(0, py - 3); qy <= std::min(H - 1, py + 3) && !near; ++qy) {
                for (int32_t qx = std::max(0, px - 3); qx <= std::min(W - 1, px + 3) && !near; ++qx) {
                    const int32_t dx = px - qx, dy = py - qy;
                    near = in[qy * W + qx] == c && dx * dx + dy * dy <= 9;
                }
            }
            if (near) ring.push_back(gray[p]);
        }
        if (ring.empty() || inner.empty()) continue;
        std::sort(inner.begin(), inner.end());
        std::sort(ring.begin(), ring.end());
        contrasts[c] = ring[(ring.size() - 1) / 2] - inner[(inner.size() - 1) / 10];
    }
    return contrasts;
}

// Small cells far apart and touching, at the frame's edges too, on a noisy ground (gray 80 plus
// 0 .. groundSpread - 1); their centres at x0 + 0 .. spanX - 1.
void checkRandomCells(int32_t W, int32_t H, int32_t count, int32_t x0, int32_t spanX, unsigned seeds,
                      uint32_t groundSpread = 60) {
    std::vector<int32_t> inner(count * 256), ring(count * 256);
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed);
        std::vector<int32_t> labels(W * H, -2);
        std::vector<uint8_t> gray(W * H);
        for (auto& g : gray) g = static_cast<uint8_t>(80 + rng() % groundSpread);
        for (int32_t c = 0; c < count; ++c) {
            const int32_t cx = x0 + rng() % spanX, cy = rng() % H, r2 = rng() % 6;
            for (int32_t y = 0; y < H; ++y)
                for (int32_t x = 0; x < W; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r2 && labels[y * W + x] < 0) {
                        labels[y * W + x] = c;
                        gray[y * W + x] = static_cast<uint8_t>(rng() % 140);
                    }
        }
        const auto contrasts = bruteForceContrasts(labels, gray, W, H, count);
        // Every threshold: a cell's contrast is told exactly by where it starts being dropped.
        for (int32_t minContrast = 0; minContrast <= 140; ++minContrast) {
            auto expected = labels;
            for (int32_t& label : expected)
                if (label >= 0 && contrasts[label] < minContrast) label = -2;
            auto kept = labels;
            dropLowContrastCells(kept.data(), W, H, count, gray.data(), minContrast, inner.data(), ring.data());
            ASSERT_EQ(kept, expected) << W << " wide, seed " << seed << ", contrast " << minContrast;
        }
    }
}

TEST(ContrastFilter, RandomCellsAreKeptOrDroppedAsTheirRingsSay) { checkRandomCells(37, 23, 9, 0, 37, 12); }

// Rows are searched in pieces of 1,024 columns: cells and rings across the seams and at the
// frame's right edge beyond the last seam, on a ground whose every ring pixel moves the median.
TEST(ContrastFilter, CellsAcrossTheSeamsOfLongRows) {
    checkRandomCells(2060, 12, 8, 1016, 16, 16, 176);
    checkRandomCells(2060, 12, 8, 2040, 20, 16, 176);
    checkRandomCells(1024, 9, 4, 1012, 12, 8, 176);
}

TEST(AreaFilter, DropsCellsOutsideTheRange) {
    // Cells of 2, 5 and 9 pixels.
    std::vector<int32_t> labels = {0, 0, 1, 1, 1, 1, 1, -2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    std::vector<int32_t> table(3 * kCellWords, 0);
    for (int32_t c = 0; c < 3; ++c) cellRecord(table.data(), c)[CellWord::size] = std::vector<int32_t>{2, 5, 9}[c];
    auto kept = labels;
    EXPECT_EQ(dropCellsByArea(kept.data(), 17, table.data(), 3, 0, 0), 0);
    EXPECT_EQ(kept, labels);
    EXPECT_EQ(dropCellsByArea(kept.data(), 17, table.data(), 3, 5, 8), 2);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), -2), 12);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), 1), 5);
}

}  // namespace
}  // namespace vanto
