#include "compute/nearest_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "model/records.h"

namespace vanto {
namespace {

struct Centre {
    int64_t x, y;
};

std::vector<int32_t> tableOf(const std::vector<Centre>& centres) {
    std::vector<int32_t> table(static_cast<size_t>(kTableRecords) * kCellWords, 0);
    for (size_t k = 0; k < centres.size(); ++k) {
        table[k * kCellWords + CellWord::centerX] = static_cast<int32_t>(centres[k].x);
        table[k * kCellWords + CellWord::centerY] = static_cast<int32_t>(centres[k].y);
    }
    if (centres.size() < static_cast<size_t>(kTableRecords)) {
        table[centres.size() * kCellWords + CellWord::smallFlag] = kEndMarker;
    }
    return table;
}

// Squared distance of a point to a rectangle, in 128 bits so that no case can overflow.
__int128 gap(int64_t c, int64_t lo, int64_t hi, bool farthest) {
    const __int128 d = farthest ? std::max(c - lo, hi - c) : (c < lo ? lo - c : c > hi ? c - hi : 0);
    return d * d;
}

// Every group's list against the definition, found by trying every record: the records within
// the smallest farthest-point distance of the group, each once; or every record.
void expectListsExact(int32_t w, int32_t h, int32_t side, const std::vector<Centre>& centres) {
    NearestCandidates c;
    ASSERT_TRUE(c.reserve(w, h, side));
    c.build(tableOf(centres).data());
    ASSERT_EQ(c.siteCount(), static_cast<int32_t>(centres.size()));
    const int32_t across = (w + side - 1) / side;
    for (int32_t g = 0; g < c.groupCount(); ++g) {
        const int64_t x0 = int64_t{g % across} * side, y0 = int64_t{g / across} * side;
        const int64_t x1 = std::min<int64_t>(x0 + side, w) - 1, y1 = std::min<int64_t>(y0 + side, h) - 1;
        __int128 bound = -1;
        for (const Centre& s : centres) {
            const __int128 d = gap(s.x, x0, x1, true) + gap(s.y, y0, y1, true);
            if (bound < 0 || d < bound) bound = d;
        }
        std::vector<int32_t> expected;
        for (size_t k = 0; k < centres.size(); ++k) {
            if (gap(centres[k].x, x0, x1, false) + gap(centres[k].y, y0, y1, false) <= bound) {
                expected.push_back(static_cast<int32_t>(k));
            }
        }
        const int32_t first = c.spans()[2 * g], count = c.spans()[2 * g + 1];
        if (count == NearestCandidates::kEveryRecord) {
            EXPECT_GT(expected.size(), size_t{NearestCandidates::kGroupListLimit}) << "group " << g;
            continue;
        }
        std::vector<int32_t> listed(c.entries().begin() + first, c.entries().begin() + first + count);
        std::sort(listed.begin(), listed.end());
        ASSERT_EQ(listed, expected) << w << " x " << h << ", side " << side << ", group " << g;
    }
}

TEST(NearestCandidates, ListsHoldExactlyTheRecordsWithinTheGroupBound) {
    std::mt19937 rng(5);
    auto random = [&](int32_t w, int32_t h, int32_t n, int32_t spread) {
        std::vector<Centre> centres;
        for (int32_t k = 0; k < n; ++k) {
            centres.push_back({static_cast<int64_t>(rng() % (w + 2 * spread)) - spread,
                               static_cast<int64_t>(rng() % (h + 2 * spread)) - spread});
        }
        return centres;
    };
    expectListsExact(40, 30, 16, {});
    expectListsExact(40, 30, 16, {{7, 9}});
    expectListsExact(1, 1, 1, {{0, 0}, {0, 0}});
    for (int32_t side : {1, 4, 16}) {
        expectListsExact(97, 65, side, random(97, 65, 3, 0));
        expectListsExact(97, 65, side, random(97, 65, 40, 30));      // some centres outside the frame
        expectListsExact(211, 190, side, random(211, 190, 700, 0));  // crowded bins
        expectListsExact(300, 20, side, random(300, 20, 9, 500));    // far outside, on both sides
    }
    // The extremes of the centre words, and a lattice whose centres tie on every bisector.
    expectListsExact(50, 37, 16, {{INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}, {25, 18}});
    std::vector<Centre> lattice;
    for (int64_t y = -6; y < 43; y += 6) {
        for (int64_t x = -6; x < 56; x += 6) lattice.push_back({x, y});
    }
    expectListsExact(50, 37, 16, lattice);
}

TEST(NearestCandidates, CrowdedGroupsFallBackToEveryRecord) {
    // Seventy records on one spot: every group would list them all.
    const std::vector<Centre> spot(70, Centre{10, 10});
    expectListsExact(64, 48, 16, spot);
    NearestCandidates c;
    ASSERT_TRUE(c.reserve(64, 48, 16));
    c.build(tableOf(spot).data());
    for (int32_t g = 0; g < c.groupCount(); ++g) EXPECT_EQ(c.spans()[2 * g + 1], NearestCandidates::kEveryRecord);
    EXPECT_EQ(c.entryCount(), 0);
    // A full table has no end marker: all 2,000 records are sites.
    std::vector<Centre> full(kTableRecords, Centre{1, 1});
    c.build(tableOf(full).data());
    EXPECT_EQ(c.siteCount(), kTableRecords);
}

}  // namespace
}  // namespace vanto
