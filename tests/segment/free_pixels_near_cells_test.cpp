// The scan that finds the pixels of no cell near cells, against a direct search of each pixel's
// disc: which pixels it visits, in what order, and the lowest and highest label it reports,
// on frames wider than the scan's chunk (so that discs straddle chunk edges) and at every
// frame edge.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "segment/free_pixels_near_cells.h"

namespace vanto {
namespace {

struct Visit {
    int64_t p;
    uint32_t lowest;
    int32_t highest;
    bool operator==(const Visit&) const = default;
};

std::vector<Visit> direct(const std::vector<int32_t>& labels, int32_t w, int32_t h, int32_t r) {
    std::vector<Visit> out;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (labels[y * w + x] >= 0) continue;
            uint32_t lowest = UINT32_MAX;
            int32_t highest = -1;
            for (int32_t yy = 0; yy < h; ++yy)
                for (int32_t xx = 0; xx < w; ++xx) {
                    const int32_t dx = xx - x, dy = yy - y, c = labels[yy * w + xx];
                    if (dx * dx + dy * dy > r * r || c < 0) continue;
                    lowest = std::min(lowest, static_cast<uint32_t>(c));
                    highest = std::max(highest, c);
                }
            if (highest >= 0) out.push_back({y * int64_t{w} + x, lowest, highest});
        }
    return out;
}

TEST(FreePixelsNearCells, VisitsEachPixelWithACellInItsDiscWithTheDiscsLowestAndHighestLabel) {
    for (const auto& size : {std::pair{300, 13}, std::pair{530, 7}, std::pair{9, 40}, std::pair{1, 1}}) {
        const int32_t w = size.first, h = size.second;
        std::mt19937 rng(static_cast<unsigned>(w * 31 + h));
        // Sparse cells of a few numbers (so that discs hold one, two or more), no-cell pixels of
        // two kinds, and cells on every edge of the frame.
        std::vector<int32_t> labels(static_cast<size_t>(w) * h);
        for (auto& v : labels) {
            const unsigned roll = rng() % 100;
            if (roll < 4) v = static_cast<int32_t>(rng() % 5);
            else if (roll < 6) v = static_cast<int32_t>(rng() % 100000);
            else v = -1 - static_cast<int32_t>(rng() % 2);
        }
        labels[0] = 3;
        labels[static_cast<size_t>(w) * h - 1] = 4;
        for (const int32_t r : {0, 1, 2, 3, 5, 8, 20}) {
            std::vector<Visit> got;
            forEachFreePixelNearCells<20>(labels.data(), w, h, r, [&](int32_t x, int32_t y, int64_t p, DiscLabels d) {
                ASSERT_EQ(p, y * int64_t{w} + x);
                got.push_back({p, d.lowest, d.highest});
            });
            const std::vector<Visit> expected = direct(labels, w, h, r);
            ASSERT_EQ(got.size(), expected.size()) << w << " x " << h << ", r " << r;
            EXPECT_TRUE(got == expected) << w << " x " << h << ", r " << r;
        }
    }
}

TEST(FreePixelsNearCells, TellsASingleCellFromSeveral) {
    EXPECT_TRUE((DiscLabels{7, 7}.singleCell()));
    EXPECT_FALSE((DiscLabels{6, 7}.singleCell()));
    EXPECT_FALSE((DiscLabels{UINT32_MAX, -1}.singleCell()));
}

}  // namespace
}  // namespace vanto
