#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "plain_search.h"
#include "segment/foreground_mask.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

// Depth picture: '.' shallow (0), '#' deep (50), '-' bright (-5), '=' exactly the threshold.
constexpr int32_t kThreshold = 5;

std::unique_ptr<testing::SegmentBench> maskOf(const std::vector<std::string>& rows) {
    const int32_t h = static_cast<int32_t>(rows.size());
    const int32_t w = static_cast<int32_t>(rows[0].size());
    auto ws = testing::makeSegmentScratch(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const char c = rows[y][x];
            ws->depthPlane[y * w + x] = c == '#' ? 50 : c == '-' ? -5 : c == '=' ? kThreshold : 0;
        }
    }
    buildForegroundMask(*ws, kThreshold);
    return ws;
}

int32_t at(const int32_t* plane, const SegmentScratch& ws, int32_t x, int32_t y) { return plane[y * ws.width + x]; }

TEST(ForegroundMask, NinePixelSpeckIsSetApartAndGrowsAsSpeck) {
    // 3 x 3 deep block: a speck (3). Its 4-adjacent shallow ring takes the speck class in the
    // growth step; nothing bridges from specks. The mask is block plus ring, 21 pixels.
    auto ws = maskOf({"............", "............", "............", "....###.....", "....###.....",
                      "....###.....", "............", "............", "............", "............"});
    for (int32_t y = 3; y <= 5; ++y) {
        for (int32_t x = 4; x <= 6; ++x) EXPECT_EQ(at(ws->segLabels, *ws, x, y), 3);
    }
    EXPECT_EQ(at(ws->segLabels, *ws, 3, 4), 3);
    EXPECT_EQ(at(ws->segLabels, *ws, 5, 2), 3);
    EXPECT_EQ(at(ws->segLabels, *ws, 3, 2), 1);
    int32_t maskPixels = 0;
    for (int32_t p = 0; p < 120; ++p) maskPixels += ws->maskPlane[p];
    EXPECT_EQ(maskPixels, 21);
    EXPECT_EQ(at(ws->maskPlane, *ws, 3, 2), 0);
}

TEST(ForegroundMask, TenPixelAreaStaysDeepAndGrowsOnePixel) {
    // 3 x 3 block plus (7,4): 10 pixels, deep. Growth makes (3,4) deep but leaves (2,4)
    // shallow; the ring corner (3,2) lies between the ring pixels (4,2) and (3,3) and is
    // painted as a bridge.
    auto ws = maskOf({"............", "............", "............", "....###.....", "....####....",
                      "....###.....", "............", "............", "............", "............"});
    for (int32_t y = 3; y <= 5; ++y) {
        for (int32_t x = 4; x <= 6; ++x) EXPECT_EQ(at(ws->segLabels, *ws, x, y), 4);
    }
    EXPECT_EQ(at(ws->segLabels, *ws, 7, 4), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 3, 4), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 2, 4), 1);
    EXPECT_EQ(at(ws->maskPlane, *ws, 2, 4), 0);
    EXPECT_EQ(at(ws->segLabels, *ws, 3, 2), 2);
    EXPECT_EQ(at(ws->maskPlane, *ws, 3, 2), 1);
}

TEST(ForegroundMask, DepthEqualToTheThresholdIsShallow) {
    auto ws = maskOf({"........", ".====...", ".====...", ".====...", ".====...", "........"});
    for (int32_t p = 0; p < 48; ++p) {
        EXPECT_EQ(ws->segLabels[p], 1);
        EXPECT_EQ(ws->maskPlane[p], 0);
    }
}

TEST(ForegroundMask, ThreeShallowPixelsAreBridged) {
    // Row 4: deep x = 1..10 and 14..23, shallow 11..13, in bright rows. Growth deepens 0, 11,
    // 13 and 24; the middle pixel 12 lies on the line from 11 to 13 and is painted.
    const std::string bright(25, '-');
    auto ws = maskOf({bright, bright, bright, bright, ".##########...##########.", bright, bright, bright});
    EXPECT_EQ(at(ws->segLabels, *ws, 11, 4), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 12, 4), 2);
    EXPECT_EQ(at(ws->segLabels, *ws, 13, 4), 4);
    for (int32_t x = 0; x < 25; ++x) {
        EXPECT_EQ(at(ws->maskPlane, *ws, x, 4), 1) << x;
        EXPECT_EQ(at(ws->maskPlane, *ws, x, 3), 0) << x;
        EXPECT_EQ(at(ws->segLabels, *ws, x, 3), 10) << x;
    }
}

TEST(ForegroundMask, BrightMiddlePixelIsNotBridged) {
    // Same rows with pixel 12 bright: 11 and 13 have no shallow 4-neighbour, so no bridging
    // starts, and the bright pixel reaches the frame edge through the bright rows.
    const std::string bright(25, '-');
    auto ws = maskOf({bright, bright, bright, bright, ".##########.-.##########.", bright, bright, bright});
    EXPECT_EQ(at(ws->segLabels, *ws, 12, 4), 10);
    EXPECT_EQ(at(ws->maskPlane, *ws, 12, 4), 0);
    for (int32_t p = 0; p < 25 * 8; ++p) EXPECT_NE(ws->segLabels[p], 2) << p;
}

TEST(ForegroundMask, AreasTouchingAtACornerJoinByGrowth) {
    // Two 10-pixel deep areas meeting only at the corner (6,3)-(7,4): the shallow corner
    // pixels (7,3) and (6,4) are 4-neighbours of deep pixels and become deep.
    auto ws = maskOf({"..............", "..............", "..#####.......", "..#####.......", ".......#####..",
                      ".......#####..", "..............", ".............."});
    EXPECT_EQ(at(ws->segLabels, *ws, 6, 3), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 7, 4), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 7, 3), 4);
    EXPECT_EQ(at(ws->segLabels, *ws, 6, 4), 4);
}

TEST(ForegroundMask, EnclosedPocketIsFilled) {
    // A bright pocket and a diagonal chain up to (2,1), all inside deep ground: the 8-connected
    // background area touches no frame edge and becomes foreground.
    auto ws = maskOf({"##########", "##-#######", "###-######", "####--####", "####--####", "##########",
                      "##########", "##########"});
    for (int32_t p = 0; p < 80; ++p) EXPECT_EQ(ws->maskPlane[p], 1) << p;
    EXPECT_EQ(at(ws->segLabels, *ws, 4, 3), 10);
}

TEST(ForegroundMask, PocketReachingTheEdgeDiagonallyStaysBackground) {
    // The same chain extended by (1,0) on the top edge: the pocket reaches the edge through
    // diagonal steps only, and stays background.
    auto ws = maskOf({"#-########", "##-#######", "###-######", "####--####", "####--####", "##########",
                      "##########", "##########"});
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            const bool bright = (x == 1 && y == 0) || (x == 2 && y == 1) || (x == 3 && y == 2) ||
                                ((x == 4 || x == 5) && (y == 3 || y == 4));
            EXPECT_EQ(at(ws->maskPlane, *ws, x, y), bright ? 0 : 1) << x << "," << y;
        }
    }
}

TEST(ForegroundMask, BackgroundIsExactlyWhatReachesTheEdge) {
    // Random bright, shallow and deep pictures of several sizes, including 1-pixel-wide ones,
    // one workspace per size. Outcome checked against a plain search: a pixel stays
    // background exactly when its class is background and an 8-connected background path
    // leads from it to the frame edge.
    std::mt19937 random(5);
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{9, 1}, std::pair{2, 3}, std::pair{5, 5},
                               std::pair{12, 9}, std::pair{40, 30}}) {
        auto ws = testing::makeSegmentScratch(w, h);
        for (int round = 0; round < 80; ++round) {
            // Dense and sparse foreground: long background runs that meet several runs above and below.
            const std::vector<int32_t> classes = round % 2 ? std::vector<int32_t>{50, 50, 0, -5}
                                                           : std::vector<int32_t>{50, 0, 0, -5, -5, 0, 0, 0};
            for (int32_t p = 0; p < w * h; ++p) ws->depthPlane[p] = classes[random() % classes.size()];
            buildForegroundMask(*ws, kThreshold);
            std::vector<int> reach(w * h, 0);  // background of class, reaching the edge
            std::vector<int32_t> stack;
            for (int32_t p = 0; p < w * h; ++p) {
                const int32_t x = p % w, y = p / w;
                const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                const int32_t cls = ws->segLabels[p];
                if (edge && (cls == 1 || cls == 10)) {
                    reach[p] = 1;
                    stack.push_back(p);
                }
            }
            testing::plainSearch(w, h, true, stack, [&](int32_t q) {
                const int32_t cls = ws->segLabels[q];
                if (reach[q] || (cls != 1 && cls != 10)) return false;
                reach[q] = 1;
                return true;
            });
            for (int32_t p = 0; p < w * h; ++p) {
                ASSERT_EQ(ws->maskPlane[p], reach[p] ? 0 : 1) << w << " x " << h << ", round " << round << ", pixel " << p;
            }
        }
    }
}

}  // namespace
}  // namespace vanto
