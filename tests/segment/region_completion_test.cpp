#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "segment/region_completion.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

// Label picture: a digit is a region id, '.' shallow ground (-2), '-' other ground (-1),
// 'c' a cut pixel not handed back (-3). Every region records size 1000 unless set.
std::unique_ptr<testing::SegmentBench> labelsOf(const std::vector<std::string>& rows) {
    const int32_t h = static_cast<int32_t>(rows.size());
    const int32_t w = static_cast<int32_t>(rows[0].size());
    auto ws = testing::makeSegmentScratch(w, h);
    int32_t regions = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const char c = rows[y][x];
            int32_t v = c == '.' ? -2 : c == '-' ? -1 : c == 'c' ? -3 : c - '0';
            ws->frameLabels[y * w + x] = v;
            regions = std::max(regions, v + 1);
        }
    }
    ws->regionCount = regions;
    for (int32_t r = 0; r < regions; ++r) ws->regionSize[r] = 1000;
    return ws;
}

std::vector<std::string> picture(const SegmentScratch& ws) {
    std::vector<std::string> rows;
    for (int32_t y = 0; y < ws.height; ++y) {
        std::string row;
        for (int32_t x = 0; x < ws.width; ++x) {
            const int32_t v = ws.segLabels[y * ws.width + x];
            row += v == -2 ? '.' : v >= 0 && v <= 9 ? static_cast<char>('0' + v) : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

using Rows = std::vector<std::string>;

TEST(RegionCompletion, ShallowGroundGrowsAlongAClearLine) {
    // (2,1) sees (0,1) across the free (1,1) (squared distance 4) in step 1; (3,1) is too far
    // and joins in step 3, as do the pixels of rows 0 and 2 beside a labelled pixel.
    auto ws = labelsOf({"-------", "0......", "-------"});
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), (Rows{"0000...", "0000...", "0000..."}));
}

TEST(RegionCompletion, LineBlockedByACutOrBrightPixel) {
    // With (1,1) cut or bright, (2,1) sees no region in step 1. In step 3 (1,1) and the
    // diagonal pixels (1,0), (1,2) join; (2,1) still has no labelled neighbour then.
    for (const char blocker : {'c', '-'}) {
        auto ws = labelsOf({"-------", std::string("0") + blocker + ".....", "-------"});
        completeRegions(*ws);
        EXPECT_EQ(picture(*ws), (Rows{"00.....", "00.....", "00....."})) << blocker;
    }
}

TEST(RegionCompletion, DiagonalJoinsInStepThreeButNotStepOne) {
    // (2,2) reaches (1,1) only diagonally and both corners are other ground: refused in
    // step 1. In step 3 the corners are free, so it joins; but it joined too late to pass
    // the label on, so (3,2) stays unlabelled.
    auto ws = labelsOf({"-----", "-0---", "--.--", "-----", "-----"});
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), (Rows{"000..", "000..", "000..", ".....", "....."}));
}

TEST(RegionCompletion, DiagonalWithFreeCornersJoinsInStepOne) {
    // Shallow corners: (2,2) joins in step 1 and passes the label to (3,2) in step 3.
    auto ws = labelsOf({"-----", "-0.--", "-..--", "-----", "-----"});
    completeRegions(*ws);
    EXPECT_EQ(ws->segLabels[2 * 5 + 2], 0);
    EXPECT_EQ(ws->segLabels[2 * 5 + 3], 0);
}

TEST(RegionCompletion, SmallRegionMergesAlongTenContacts) {
    // Region 0 (rows 0..1) touches region 1 along 10 pixel sides.
    const Rows rows = {"0000000000", "0000000000", "1111111111", "1111111111", "1111111111", "1111111111"};
    auto ws = labelsOf(rows);
    ws->regionSize[0] = 159;
    completeRegions(*ws);
    for (int32_t p = 0; p < 60; ++p) EXPECT_EQ(ws->segLabels[p], 1);
    EXPECT_EQ(ws->regionSize[1], 1159);

    auto kept = labelsOf(rows);
    kept->regionSize[0] = 160;
    completeRegions(*kept);
    EXPECT_EQ(picture(*kept), rows);
    EXPECT_EQ(kept->regionSize[1], 1000);
}

TEST(RegionCompletion, EqualContactsGoToTheFirstMet) {
    // Region 0 has 5 contacts with region 2 (met first, below its left half) and 5 with
    // region 1: the earlier candidate wins the tie, whatever the ids.
    auto ws = labelsOf({"0000000000", "0000000000", "2222211111", "2222211111", "2222211111", "2222211111"});
    ws->regionSize[0] = 20;
    completeRegions(*ws);
    for (int32_t p = 0; p < 20; ++p) EXPECT_EQ(ws->segLabels[p], 2);
    EXPECT_EQ(ws->regionSize[2], 1020);
    EXPECT_EQ(ws->regionSize[1], 1000);
}

TEST(RegionCompletion, MoreContactsWinOverTheFirstMet) {
    auto ws = labelsOf({"0000000000", "0000000000", "2222111111", "2222111111", "2222111111", "2222111111"});
    ws->regionSize[0] = 20;
    completeRegions(*ws);
    for (int32_t p = 0; p < 20; ++p) EXPECT_EQ(ws->segLabels[p], 1);
}

TEST(RegionCompletion, SingleContactsAreNoTarget) {
    // Region 0 is one pixel with one contact to region 1 and one to region 2: not merged.
    const Rows rows = {"011111", "222111", "222111", "222111"};
    auto ws = labelsOf(rows);
    ws->regionSize[0] = 1;
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), rows);
}

TEST(RegionCompletion, EachPieceOfASmallRegionMergesOnItsOwn) {
    // Region 0 in two pieces: the top one has 3 contacts with region 1, the bottom one 3
    // with region 2. Each goes to its own neighbour, and each adds region 0's recorded size.
    auto ws = labelsOf({"001111", "111111", "222222", "222200"});
    ws->regionSize[0] = 10;
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), (Rows{"111111", "111111", "222222", "222222"}));
    EXPECT_EQ(ws->regionSize[1], 1010);
    EXPECT_EQ(ws->regionSize[2], 1010);
}

TEST(RegionCompletion, AbsorbingRegionIsJudgedByItsRecordedSize) {
    // Region 0 (100) merges into region 1 (100) along 8 contacts; region 1 then records 200
    // and is no longer small when the scan reaches its own pixels.
    const Rows rows = {"00000000", "11111111", "11111111", "22222222", "22222222", "22222222"};
    auto ws = labelsOf(rows);
    ws->regionSize[0] = 100;
    ws->regionSize[1] = 100;
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), (Rows{"11111111", "11111111", "11111111", "22222222", "22222222", "22222222"}));
    EXPECT_EQ(ws->regionSize[1], 200);
}

TEST(RegionCompletion, StillSmallRegionTakesItsAbsorbedPixelsAlong) {
    // Region 0 (10) goes to region 1 (100), which stays small (110). Its fill takes the
    // absorbed pixels too (they are marked for region 0, not for 1), so all of it moves to
    // region 2.
    const Rows rows = {"00000000", "11111111", "11111111", "22222222", "22222222", "22222222"};
    auto ws = labelsOf(rows);
    ws->regionSize[0] = 10;
    ws->regionSize[1] = 100;
    completeRegions(*ws);
    for (int32_t p = 0; p < 48; ++p) EXPECT_EQ(ws->segLabels[p], 2) << p;
    EXPECT_EQ(ws->regionSize[2], 1110);
}

TEST(RegionCompletion, EnclosedHoleIsFilled) {
    // A 5 x 5 hole of other ground: step 3 fills its outer ring, the 3 x 3 rest is a pocket
    // enclosed by region 0 alone.
    Rows rows(11, std::string(11, '0'));
    for (int32_t y = 3; y <= 7; ++y) rows[y].replace(3, 5, "-----");
    auto ws = labelsOf(rows);
    completeRegions(*ws);
    for (int32_t p = 0; p < 121; ++p) EXPECT_EQ(ws->segLabels[p], 0) << p;
}

TEST(RegionCompletion, PocketBetweenTwoRegionsIsNotFilled) {
    // Hole x 3..8, y 3..7 across the border of regions 0 (x < 6) and 1: after step 3 the
    // pocket x 4..7, y 4..6 borders both.
    Rows rows(11, std::string(13, '0'));
    for (auto& row : rows) row.replace(6, 7, "1111111");
    for (int32_t y = 3; y <= 7; ++y) rows[y].replace(3, 6, "------");
    auto ws = labelsOf(rows);
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws)[3], "0000001111111");
    EXPECT_EQ(picture(*ws)[5], "0000....11111");
}

TEST(RegionCompletion, PocketAtTheFrameEdgeIsNotFilled) {
    Rows rows(11, std::string(11, '0'));
    for (int32_t y = 0; y <= 4; ++y) rows[y].replace(3, 5, "-----");
    auto ws = labelsOf(rows);
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws)[0], "0000...0000");
    EXPECT_EQ(picture(*ws)[3], "0000...0000");
    EXPECT_EQ(picture(*ws)[4], "00000000000");
}

TEST(RegionCompletion, NoRegionsLeaveEverythingFree) {
    auto ws = labelsOf({"--..c", "..-c.", "c...."});
    completeRegions(*ws);
    EXPECT_EQ(picture(*ws), (Rows{".....", ".....", "....."}));
}

// The marks against a look at every square, on random frames from one pixel up, with squares
// wider and taller than the frame, labels at its edges and every kind of ground.
TEST(RegionCompletion, FreePixelsNearLabelsMatchALookAtEverySquare) {
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        const int32_t w = 1 + static_cast<int32_t>(random() % 12), h = 1 + static_cast<int32_t>(random() % 9);
        const int32_t r = static_cast<int32_t>(random() % 6);
        const int32_t n = w * h;
        std::vector<int32_t> from(static_cast<size_t>(n));
        // Few labels in some rounds, many in others.
        const uint32_t labelShare = 1 + random() % 8;
        for (int32_t& v : from) v = random() % 16 < labelShare ? static_cast<int32_t>(random() % 3) : -1 - static_cast<int32_t>(random() % 3);
        std::vector<uint8_t> scratch(2 * static_cast<size_t>(n), 0xAB), near(static_cast<size_t>(n), 0xCD);
        markFreeNearLabels(from.data(), w, h, r, scratch.data(), near.data());
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                bool label = false;
                for (int32_t yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
                    for (int32_t xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) label |= from[yy * w + xx] >= 0;
                const int expected = label && from[y * w + x] == -2 ? 1 : 0;
                ASSERT_EQ(near[y * w + x], expected) << "round " << round << " (" << x << ", " << y << ") r " << r;
            }
        }
    }
}

}  // namespace
}  // namespace vanto
