#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "segment/depth_map.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

std::vector<int32_t> depthOf(int32_t w, int32_t h, const std::vector<uint8_t>& gray) {
    auto ws = testing::makeWorkspace(w, h);
    computeDepthMap(*ws, gray.data());
    for (int32_t i = 1; i < w * h; ++i) EXPECT_LE(gray[ws->pixelOrder[i - 1]], gray[ws->pixelOrder[i]]);
    return {ws->depthPlane, ws->depthPlane + w * h};
}

TEST(DepthMap, UniformFrameIsFlat) {
    const auto d = depthOf(9, 7, std::vector<uint8_t>(63, 77));
    for (int32_t v : d) EXPECT_EQ(v, 0);
}

TEST(DepthMap, OnePixelFrameIsFlat) {
    // The only pixel touches the border and closes its own region at once.
    EXPECT_EQ(depthOf(1, 1, {200})[0], 0);
}

TEST(DepthMap, SingleDarkPixelLiesBelowTheSurroundingLevel) {
    // The basin of (3, 3) spills at gray 50; everything else spills where it stands.
    std::vector<uint8_t> g(49, 50);
    g[3 * 7 + 3] = 10;
    const auto d = depthOf(7, 7, g);
    for (int32_t p = 0; p < 49; ++p) EXPECT_EQ(d[p], p == 24 ? 40 : 0) << p;
}

TEST(DepthMap, SingleBrightPixelStandsAboveTheSurroundingLevel) {
    // Dark sweep gives it 0, the bright sweep a height of 40: folded to -40.
    std::vector<uint8_t> g(49, 50);
    g[3 * 7 + 3] = 90;
    const auto d = depthOf(7, 7, g);
    for (int32_t p = 0; p < 49; ++p) EXPECT_EQ(d[p], p == 24 ? -40 : 0) << p;
}

TEST(DepthMap, BasinTouchingTheBorderSpillsAtItsBorderPixel) {
    // Row 2 of an 8 x 6 field of 100: (0,2) = 60 on the border, (1,2) = 20, (2,2) = 30.
    // 20 opens region 0, 30 joins it, 60 touches the border and closes it at gray 60: the
    // basin is measured against 60, not against the surrounding 100.
    std::vector<uint8_t> g(48, 100);
    g[2 * 8 + 0] = 60;
    g[2 * 8 + 1] = 20;
    g[2 * 8 + 2] = 30;
    const auto d = depthOf(8, 6, g);
    for (int32_t p = 0; p < 48; ++p) {
        const int32_t expected = p == 17 ? 40 : p == 18 ? 30 : 0;
        EXPECT_EQ(d[p], expected) << p;
    }
}

TEST(DepthMap, BasinsAcrossARidgeMergeAndSpillTogether) {
    // 7 x 5 field of 100 with (2,2) = 10, (3,2) = 60, (4,2) = 20. The ridge pixel touches
    // neither border nor a closed region, so it merges both basins; the merged region closes
    // at 100. Measured separately at the ridge they would be 50 and 40 deep.
    std::vector<uint8_t> g(35, 100);
    g[2 * 7 + 2] = 10;
    g[2 * 7 + 3] = 60;
    g[2 * 7 + 4] = 20;
    const auto d = depthOf(7, 5, g);
    for (int32_t p = 0; p < 35; ++p) {
        const int32_t expected = p == 16 ? 90 : p == 17 ? 40 : p == 18 ? 80 : 0;
        EXPECT_EQ(d[p], expected) << p;
    }
}

TEST(DepthMap, EqualDepthAndHeightKeepTheDepth) {
    // 7 x 7 rings around (3,3): border 50, ring of 0, ring of 100, centre 50.
    // Dark sweep: the 0 ring closes at the border (50), the centre closes at the 100 ring:
    // depths 50 (0 ring), 50 (centre). Bright sweep: the centre joins the open 100 ring, which
    // closes at the 0 ring: heights 100 (100 ring), 50 (centre). The centre's tie keeps +50.
    std::vector<uint8_t> g(49);
    for (int32_t y = 0; y < 7; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            const int ring = std::max(std::abs(x - 3), std::abs(y - 3));
            g[y * 7 + x] = ring == 3 ? 50 : ring == 2 ? 0 : ring == 1 ? 100 : 50;
        }
    }
    const auto d = depthOf(7, 7, g);
    for (int32_t y = 0; y < 7; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            const int ring = std::max(std::abs(x - 3), std::abs(y - 3));
            const int32_t expected = ring == 3 ? 0 : ring == 2 ? 50 : ring == 1 ? -100 : 50;
            EXPECT_EQ(d[y * 7 + x], expected) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace vanto
