#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "segment/neck_cut.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

// Mask picture: '#' foreground (class 4 in segLabels), '.' shallow background (class 1),
// '-' bright background (class 10). depthPlane starts at 0 everywhere.
std::unique_ptr<testing::SegmentBench> planesOf(const std::vector<std::string>& rows) {
    const int32_t h = static_cast<int32_t>(rows.size());
    const int32_t w = static_cast<int32_t>(rows[0].size());
    auto ws = testing::makeSegmentScratch(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const char c = rows[y][x];
            const int32_t p = y * w + x;
            ws->maskPlane[p] = c == '#' ? 1 : 0;
            ws->segLabels[p] = c == '#' ? 4 : c == '-' ? 10 : 1;
            ws->depthPlane[p] = 0;
        }
    }
    return ws;
}

// Two 9 x 9 blobs (x 2..10 and 16..24, y 3..11) joined by a bar x 11..15, y 6..8.
std::vector<std::string> barFrame() {
    std::vector<std::string> rows(15, std::string(27, '.'));
    for (int32_t y = 3; y <= 11; ++y) {
        for (int32_t x = 2; x <= 10; ++x) rows[y][x] = '#';
        for (int32_t x = 16; x <= 24; ++x) rows[y][x] = '#';
    }
    for (int32_t y = 6; y <= 8; ++y) {
        for (int32_t x = 11; x <= 15; ++x) rows[y][x] = '#';
    }
    return rows;
}

TEST(NeckCut, BarBetweenTwoBlobsIsCutAndHandedBack) {
    auto ws = planesOf(barFrame());
    const int32_t w = ws->width;
    EXPECT_EQ(cutNecksAndLabel(*ws), 2);
    EXPECT_EQ(ws->regionCount, 2);
    // The outline pixels above and below each bar column are 4 rows apart: all 15 are cut.
    for (int32_t y = 6; y <= 8; ++y) {
        for (int32_t x = 11; x <= 15; ++x) EXPECT_EQ(ws->maskPlane[y * w + x], 2) << x << "," << y;
    }
    EXPECT_EQ(ws->frameLabels[7 * w + 6], 0);
    EXPECT_EQ(ws->frameLabels[7 * w + 20], 1);
    // Hand-back, one growth in queue order: layer 1 takes x = 11 (from A) and 15 (from B),
    // layer 2 x = 12 and 14; x = 13 is reached first from (12, y), queued before (14, y).
    for (int32_t y = 6; y <= 8; ++y) {
        for (int32_t x = 11; x <= 15; ++x) EXPECT_EQ(ws->frameLabels[y * w + x], x <= 13 ? 0 : 1) << x << "," << y;
    }
    // Together the two regions cover the whole mask again; the rest is shallow background.
    for (int32_t p = 0; p < ws->width * ws->height; ++p) {
        if (ws->maskPlane[p] >= 1) {
            EXPECT_GE(ws->frameLabels[p], 0) << p;
        } else {
            EXPECT_EQ(ws->frameLabels[p], -2) << p;
        }
    }
}

TEST(NeckCut, ConvexCornerIsTrimmedAndHandedBack) {
    // 8 x 8 square at (3..10, 3..10): outline (2,4) and (4,2) are joined through (3,3), which
    // is cut; it goes back to the only region.
    std::vector<std::string> rows(14, std::string(14, '.'));
    for (int32_t y = 3; y <= 10; ++y) {
        for (int32_t x = 3; x <= 10; ++x) rows[y][x] = '#';
    }
    auto ws = planesOf(rows);
    const int32_t w = ws->width;
    EXPECT_EQ(cutNecksAndLabel(*ws), 1);
    EXPECT_EQ(ws->maskPlane[3 * w + 3], 2);
    EXPECT_EQ(ws->maskPlane[6 * w + 6], 1);
    EXPECT_EQ(ws->maskPlane[2 * w + 4], -1);
    for (int32_t y = 3; y <= 10; ++y) {
        for (int32_t x = 3; x <= 10; ++x) EXPECT_EQ(ws->frameLabels[y * w + x], 0) << x << "," << y;
    }
}

// A line of foreground one pixel high (x 3..8, row 3): every pixel is cut between the outline
// pixels above and below, so no uncut foreground is left. Row 0 is bright.
std::vector<std::string> lineFrame() {
    return {"------------", "............", "............", "...######...", "............", "............",
            "............"};
}

TEST(NeckCut, DeepCutPieceBecomesARegionOfRecordedSizeZero) {
    auto ws = planesOf(lineFrame());
    const int32_t w = ws->width;
    ws->depthPlane[3 * w + 5] = 24;  // only the seed needs to lie deeper than 23
    EXPECT_EQ(cutNecksAndLabel(*ws), 1);
    EXPECT_EQ(ws->regionSize[0], 0);
    for (int32_t x = 3; x <= 8; ++x) {
        EXPECT_EQ(ws->maskPlane[3 * w + x], 2);
        EXPECT_EQ(ws->frameLabels[3 * w + x], 0);
    }
    EXPECT_EQ(ws->frameLabels[0 * w + 4], -1);
    EXPECT_EQ(ws->frameLabels[2 * w + 4], -2);
}

TEST(NeckCut, ShallowCutPieceStaysCut) {
    auto ws = planesOf(lineFrame());
    const int32_t w = ws->width;
    ws->depthPlane[3 * w + 5] = 23;
    EXPECT_EQ(cutNecksAndLabel(*ws), 0);
    for (int32_t x = 3; x <= 8; ++x) EXPECT_EQ(ws->frameLabels[3 * w + x], -3);
}

TEST(NeckCut, EmptyMaskGivesNoRegions) {
    auto ws = planesOf({"--....", "......", "....--"});
    EXPECT_EQ(cutNecksAndLabel(*ws), 0);
    const std::vector<int32_t> expected = {-1, -1, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -1, -1};
    EXPECT_EQ(std::vector<int32_t>(ws->frameLabels, ws->frameLabels + 18), expected);
}

TEST(NeckCut, RegionsRecordTheirPixelCounts) {
    // Blobs running along the frame edges have outline on one side only; every chord between
    // outline pixels runs along the outline or across background, so nothing is cut. The
    // recorded sizes are the pixel counts, in raster order of the regions.
    auto ws = planesOf({"###...##", "###...##", "###...##", "###...##", "###...##", "###...##"});
    EXPECT_EQ(cutNecksAndLabel(*ws), 2);
    EXPECT_EQ(ws->regionSize[0], 18);
    EXPECT_EQ(ws->regionSize[1], 12);
    EXPECT_EQ(ws->frameLabels[7], 1);
}

}  // namespace
}  // namespace vanto
