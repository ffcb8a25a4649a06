#include "compute/label_reach.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "workspace_fixture.h"

namespace vanto {
namespace {

using Plane = std::vector<int32_t>;

const NeighbourhoodTables& sortedTables() {
    static const auto ws = testing::makeWorkspace(4, 4);
    return ws->tables;
}

// Discs of cells (labels 0 .. 3, so equal labels meet) at random places, over "no cell"
// values of several kinds.
Plane blobs(int32_t w, int32_t h, int count, std::mt19937& rng) {
    const int32_t none[] = {-1, -2, -1000, INT32_MIN};
    Plane p(static_cast<size_t>(w) * h);
    for (int32_t& v : p) v = none[rng() % 4];
    for (int i = 0; i < count; ++i) {
        const int32_t cx = static_cast<int32_t>(rng() % w), cy = static_cast<int32_t>(rng() % h);
        const int32_t r = static_cast<int32_t>(rng() % 6), label = static_cast<int32_t>(rng() % 4);
        for (int32_t y = std::max(0, cy - r); y <= std::min(h - 1, cy + r); ++y) {
            for (int32_t x = std::max(0, cx - r); x <= std::min(w - 1, cx + r); ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) p[static_cast<size_t>(y) * w + x] = label;
            }
        }
    }
    return p;
}

// For every tile: every offset before its start misses from every cell pixel of `from` in
// the tile (the search may skip it), and the start is the one the smallest squared distance
// from the tile to a cell of `other` gives, found by trying every cell pixel.
void expectStartsExact(const LabelReach& reach, const std::vector<int32_t>& starts, const Plane& from,
                       const Plane& other, int32_t w, int32_t h, const NeighbourhoodTables& t, const char* which) {
    constexpr int32_t s = LabelReach::kTileSide;
    int wrong = 0;
    for (int32_t tile = 0; tile < reach.tileCount(); ++tile) {
        const int32_t x0 = tile % reach.tilesAcross() * s, y0 = tile / reach.tilesAcross() * s;
        const int32_t x1 = std::min(x0 + s, w) - 1, y1 = std::min(y0 + s, h) - 1;
        bool hasFrom = false;
        for (int32_t y = y0; y <= y1; ++y) {
            for (int32_t x = x0; x <= x1; ++x) {
                if (from[static_cast<size_t>(y) * w + x] < 0) continue;
                hasFrom = true;
                for (int32_t k = 0; k < starts[tile]; ++k) {
                    const int32_t qx = x + t.offsetDx[k], qy = y + t.offsetDy[k];
                    if (qx < 0 || qy < 0 || qx >= w || qy >= h) continue;
                    if (other[static_cast<size_t>(qy) * w + qx] >= 0 && ++wrong <= 5) {
                        ADD_FAILURE() << which << ": offset " << k << " before the start " << starts[tile]
                                      << " of tile " << tile << " finds a cell from (" << x << ", " << y << ")";
                    }
                }
            }
        }
        if (!hasFrom) {
            EXPECT_EQ(starts[tile], kWindowOffsets) << which << " tile " << tile << " is never searched";
            continue;
        }
        int64_t d2 = int64_t{LabelReach::kGapLimit} * LabelReach::kGapLimit;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                if (other[static_cast<size_t>(y) * w + x] < 0) continue;
                const int64_t dx = x < x0 ? x0 - x : x > x1 ? x - x1 : 0;
                const int64_t dy = y < y0 ? y0 - y : y > y1 ? y - y1 : 0;
                d2 = std::min(d2, dx * dx + dy * dy);
            }
        }
        int32_t expected = 0;
        while (expected < kWindowOffsets && t.offsetDx[expected] * t.offsetDx[expected] +
                                                    t.offsetDy[expected] * t.offsetDy[expected] <
                                                d2) {
            ++expected;
        }
        EXPECT_EQ(starts[tile], expected) << which << " tile " << tile;
    }
    EXPECT_EQ(wrong, 0) << which;
}

TEST(LabelReach, StartsSkipOnlyOffsetsThatFindNoCellOnRandomFrames) {
    std::mt19937 rng(515);
    struct Case {
        int32_t w, h;
        int prevBlobs, curBlobs;
    };
    // Sides that are and are not whole tiles; empty planes; crowded and sparse planes.
    for (const Case c : {Case{1, 1, 1, 1}, Case{7, 5, 2, 0}, Case{16, 16, 3, 3}, Case{61, 47, 8, 9},
                         Case{100, 37, 0, 12}, Case{131, 90, 40, 35}, Case{64, 64, 300, 300}}) {
        const Plane prev = blobs(c.w, c.h, c.prevBlobs, rng);
        const Plane cur = blobs(c.w, c.h, c.curBlobs, rng);
        LabelReach reach;
        ASSERT_TRUE(reach.reserve(c.w, c.h));
        reach.build(prev.data(), cur.data(), sortedTables());
        SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h);
        expectStartsExact(reach, reach.startsA(), prev, cur, c.w, c.h, sortedTables(), "A");
        expectStartsExact(reach, reach.startsB(), cur, prev, c.w, c.h, sortedTables(), "B");
    }
}

TEST(LabelReach, AnyOffsetOrderIsSafeAndFarTilesSkipEverything) {
    std::mt19937 rng(9);
    NeighbourhoodTables shuffled = sortedTables();
    std::vector<int> order(kWindowOffsets);
    for (int k = 0; k < kWindowOffsets; ++k) order[k] = k;
    std::shuffle(order.begin() + 1, order.end(), rng);
    for (int k = 0; k < kWindowOffsets; ++k) {
        shuffled.offsetDx[k] = sortedTables().offsetDx[order[k]];
        shuffled.offsetDy[k] = sortedTables().offsetDy[order[k]];
    }
    const Plane prev = blobs(90, 70, 15, rng), cur = blobs(90, 70, 15, rng);
    LabelReach reach;
    ASSERT_TRUE(reach.reserve(90, 70));
    reach.build(prev.data(), cur.data(), shuffled);
    expectStartsExact(reach, reach.startsA(), prev, cur, 90, 70, shuffled, "A");
    expectStartsExact(reach, reach.startsB(), cur, prev, 90, 70, shuffled, "B");

    // One cell pixel of each plane, far apart: neither search can reach the other.
    Plane a(90 * 70, -1), b(90 * 70, -1);
    a[5 * 90 + 5] = 1;
    b[60 * 90 + 80] = 2;
    reach.build(a.data(), b.data(), sortedTables());
    EXPECT_EQ(reach.startsA()[0], kWindowOffsets);
    EXPECT_EQ(std::count(reach.startsB().begin(), reach.startsB().end(), kWindowOffsets), reach.tileCount());
    // Brought within reach: (12, 14) lies 5 right of and 7 below tile 0's corner (7, 7): 74.
    b[14 * 90 + 12] = 3;
    reach.build(a.data(), b.data(), sortedTables());
    const NeighbourhoodTables& t = sortedTables();
    const int32_t start = reach.startsA()[0];
    ASSERT_LT(start, kWindowOffsets);
    EXPECT_GE(t.offsetDx[start] * t.offsetDx[start] + t.offsetDy[start] * t.offsetDy[start], 74);
    EXPECT_LT(t.offsetDx[start - 1] * t.offsetDx[start - 1] + t.offsetDy[start - 1] * t.offsetDy[start - 1], 74);
    reach.clear();
    EXPECT_EQ(std::count(reach.startsA().begin(), reach.startsA().end(), 0), reach.tileCount());
}

}  // namespace
}  // namespace vanto
