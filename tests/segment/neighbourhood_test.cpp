#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "segment/index_sort.h"
#include "segment/offset_steps.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

TEST(NeighbourhoodTables, SortedOrderBreaksTiesAsTheQuicksortDoes) {
    auto ws = testing::makeWorkspace(4, 4);
    const auto& t = ws->tables;
    const int expected[25][2] = {{0, 0},  {0, -1}, {0, 1},  {-1, 0}, {1, 0},   {-1, 1}, {-1, -1},
                                 {1, -1}, {1, 1},  {0, -2}, {-2, 0}, {0, 2},   {2, 0},  {-1, 2},
                                 {-2, -1}, {-2, 1}, {2, 1}, {1, -2}, {1, 2},   {2, -1}, {-1, -2},
                                 {-2, 2}, {-2, -2}, {2, -2}, {2, 2}};
    for (int k = 0; k < 25; ++k) {
        EXPECT_EQ(t.offsetDx[k], expected[k][0]) << "k=" << k;
        EXPECT_EQ(t.offsetDy[k], expected[k][1]) << "k=" << k;
    }
    for (int k = 1; k < kWindowOffsets; ++k) {
        const int a = t.offsetDx[k - 1] * t.offsetDx[k - 1] + t.offsetDy[k - 1] * t.offsetDy[k - 1];
        const int b = t.offsetDx[k] * t.offsetDx[k] + t.offsetDy[k] * t.offsetDy[k];
        EXPECT_LE(a, b);
    }
}

TEST(NeighbourhoodTables, DiscCountsAndRayEnds) {
    auto ws = testing::makeWorkspace(4, 4);
    const auto& t = ws->tables;
    EXPECT_EQ(t.discCount[0], 1);
    EXPECT_EQ(t.discCount[1], 5);
    EXPECT_EQ(t.discCount[2], 9);
    EXPECT_EQ(t.discCount[3], 9);
    EXPECT_EQ(t.discCount[4], 13);
    EXPECT_EQ(t.discCount[5], 21);
    EXPECT_EQ(t.discCount[26], 89);
    EXPECT_EQ(t.discCount[119], 373);
    EXPECT_EQ(t.rayEnd[0], 1);
    EXPECT_EQ(t.rayEnd[4], 9);
    EXPECT_EQ(t.rayEnd[88], 445);
    EXPECT_EQ(t.rayEnd[440], 4673);
    int longest = 0;
    for (int k = 0; k < kWindowOffsets; ++k) {
        const int b = t.rayBegin(k);
        const int e = t.rayEnd[k];
        longest = std::max(longest, e - b);
        EXPECT_EQ(t.rayX[b], t.offsetDx[k]);
        EXPECT_EQ(t.rayY[b], t.offsetDy[k]);
        EXPECT_EQ(t.rayX[e - 1], 0);
        EXPECT_EQ(t.rayY[e - 1], 0);
        for (int i = b + 1; i < e; ++i) EXPECT_TRUE(t.rayX[i] != t.rayX[i - 1] || t.rayY[i] != t.rayY[i - 1]);
    }
    EXPECT_EQ(longest, 19);
}

std::vector<std::pair<int, int>> rayOf(const NeighbourhoodTables& t, int k) {
    std::vector<std::pair<int, int>> ray;
    for (int i = t.rayBegin(k); i < t.rayEnd[k]; ++i) ray.emplace_back(t.rayX[i], t.rayY[i]);
    return ray;
}

TEST(NeighbourhoodTables, RaysBendAfterTheirMidpoint) {
    auto ws = testing::makeWorkspace(4, 4);
    using R = std::vector<std::pair<int, int>>;
    EXPECT_EQ(rayOf(ws->tables, 13), (R{{-1, 2}, {-1, 1}, {0, 1}, {0, 0}}));
    EXPECT_EQ(rayOf(ws->tables, 24), (R{{2, 2}, {1, 1}, {0, 0}}));
}

TEST(OffsetSteps, MarkedOffsetsByRowsAreExactlyTheMarkedDiscPixels) {
    // Every pixel far enough from the edges of random planes of odd widths, sparse and dense:
    // the offsets visited a disc row at a time against the 88 offsets tried one by one.
    std::mt19937 rng(9);
    for (int32_t w : {11, 12, 37, 64}) {
        const int32_t h = 13;
        OffsetSteps s;
        buildOffsetSteps(testing::runTables(), w, s);
        ASSERT_TRUE(s.discFits);
        const int32_t reach = s.reachUpTo[kNeckOffsets];
        for (uint32_t density : {2u, 16u, 128u, 250u}) {
            std::vector<uint8_t> marks(static_cast<size_t>(w) * h + 16, 0);
            for (int64_t p = 0; p < int64_t{w} * h; ++p) marks[p] = (rng() & 255) < density;
            for (int32_t y = reach; y < h - reach; ++y) {
                for (int32_t x = reach; x < w - reach; ++x) {
                    const int32_t p = y * w + x;
                    std::vector<int> seen, expected, seenAhead, expectedAhead;
                    forMarkedOffsets(marks.data(), s, p, w, [&](int k) { seen.push_back(k); });
                    forMarkedOffsets(marks.data(), s, p, w, [&](int k) { seenAhead.push_back(k); }, true);
                    for (int k = 1; k <= kNeckOffsets; ++k) {
                        if (marks[p + s.delta[k]]) expected.push_back(k);
                        if (marks[p + s.delta[k]] && s.delta[k] > 0) expectedAhead.push_back(k);
                    }
                    std::sort(seen.begin(), seen.end());
                    std::sort(seenAhead.begin(), seenAhead.end());
                    ASSERT_EQ(seen, expected) << "width " << w << ", pixel (" << x << ", " << y << ")";
                    ASSERT_EQ(seenAhead, expectedAhead) << "width " << w << ", pixel (" << x << ", " << y << ")";
                }
            }
        }
    }
}

TEST(OffsetSteps, RaysReadTheSameFromEitherEnd) {
    // Taking each pair of outline pixels once relies on it; a ray altered at one end breaks it.
    for (int32_t w : {3, 16, 1024}) {
        OffsetSteps s;
        buildOffsetSteps(testing::runTables(), w, s);
        EXPECT_TRUE(s.raysMirror) << w;
    }
    OffsetSteps s;
    buildOffsetSteps(testing::runTables(), 64, s);
    ASSERT_TRUE(raysReadBothWays(s));
    OffsetSteps innerMoved = s;
    innerMoved.inner[innerMoved.innerBegin[kNeckOffsets]] += 1;
    EXPECT_FALSE(raysReadBothWays(innerMoved));
    OffsetSteps cornerMoved = s;
    cornerMoved.cornerA[0] -= 64;
    EXPECT_FALSE(raysReadBothWays(cornerMoved));
}

TEST(IndexSort, SortsAndKeepsAPermutation) {
    auto ws = testing::makeWorkspace(64, 64);
    std::mt19937 rng(7);
    for (int n : {1, 2, 3, 17, 1000, 4096}) {
        for (int distinct : {1, 3, 256}) {
            std::vector<int32_t> key(n), index(n);
            std::vector<uint8_t> bytes(n);
            for (int i = 0; i < n; ++i) {
                key[i] = static_cast<int32_t>(rng() % distinct) - 1;
                bytes[i] = static_cast<uint8_t>(rng() % distinct);
            }
            std::iota(index.begin(), index.end(), 0);
            sortIndicesByIntKey(index.data(), key.data(), n - 1, ws->scratch.sortStack, ws->scratch.sortStackRanges);
            for (int i = 1; i < n; ++i) EXPECT_LE(key[index[i - 1]], key[index[i]]);
            auto sorted = index;
            std::sort(sorted.begin(), sorted.end());
            for (int i = 0; i < n; ++i) ASSERT_EQ(sorted[i], i);

            std::iota(index.begin(), index.end(), 0);
            sortIndicesByByteKey(index.data(), bytes.data(), n - 1, ws->scratch.sortStack, ws->scratch.sortStackRanges);
            for (int i = 1; i < n; ++i) EXPECT_LE(bytes[index[i - 1]], bytes[index[i]]);
        }
    }
}

TEST(IndexSort, EqualKeysFollowThePartitionOrder) {
    // Five equal keys: the first partition swaps the outer pairs (4 3 2 1 0) and leaves 2 in
    // place; each two-element side is then swapped once more.
    auto ws = testing::makeWorkspace(4, 4);
    std::vector<int32_t> key(5, 7), index = {0, 1, 2, 3, 4};
    sortIndicesByIntKey(index.data(), key.data(), 4, ws->scratch.sortStack, ws->scratch.sortStackRanges);
    EXPECT_EQ(index, (std::vector<int32_t>{3, 4, 2, 0, 1}));
}

TEST(IndexSort, AscendingInputOfAFullFrameStaysWithinTheStack) {
    // Sorted and reverse-sorted pixel orders are the deep cases of a quicksort.
    auto ws = testing::makeWorkspace(300, 200);
    const int n = 300 * 200;
    std::vector<int32_t> key(n), index(n);
    for (int i = 0; i < n; ++i) key[i] = (i * 7) / n;
    std::iota(index.begin(), index.end(), 0);
    sortIndicesByIntKey(index.data(), key.data(), n - 1, ws->scratch.sortStack, ws->scratch.sortStackRanges);
    for (int i = 1; i < n; ++i) ASSERT_LE(key[index[i - 1]], key[index[i]]);
}

}  // namespace
}  // namespace vanto
