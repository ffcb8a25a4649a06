#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "shared_data.h"
#include "image/frame_loader.h"
#include "load_frame.h"
#include "literal_depth_map.h"
#include "segment/depth_map.h"
#include "synthetic_series.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

std::vector<int32_t> depthOf(int32_t w, int32_t h, const std::vector<uint8_t>& gray) {
    auto ws = testing::makeSegmentScratch(w, h);
    computeDepthMap(*ws, gray.data());
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

// The linear depth map against the literal sort-and-sweep, pixel for pixel, on frames of one
// size. One workspace serves every frame of that size.
class AgainstLiteral {
public:
    AgainstLiteral(int32_t w, int32_t h) : w_(w), h_(h), ws_(testing::makeSegmentScratch(w, h)), literal_(w * h) {}

    // Returns false (and reports the first differing pixel) when the two maps differ.
    bool same(const uint8_t* gray) {
        computeDepthMap(*ws_, gray);
        reference_.compute(ws_->tables, gray, w_, h_, literal_.data());
        for (int32_t p = 0; p < w_ * h_; ++p) {
            if (ws_->depthPlane[p] != literal_[p]) {
                ADD_FAILURE() << w_ << " x " << h_ << " frame, pixel " << p << ": linear " << ws_->depthPlane[p]
                              << ", literal " << literal_[p] << "\n" << picture(gray);
                return false;
            }
        }
        return true;
    }

private:
    std::string picture(const uint8_t* gray) const {
        std::string text;
        for (int32_t y = 0; y < h_ && w_ * h_ <= 400; ++y) {
            for (int32_t x = 0; x < w_; ++x) text += std::to_string(gray[y * w_ + x]) + " ";
            text += "\n";
        }
        return text;
    }

    int32_t w_, h_;
    std::unique_ptr<testing::SegmentBench> ws_;
    LiteralDepthMap reference_;
    std::vector<int32_t> literal_;
};

// Every frame of w x h pixels whose grays are drawn from levels.
void checkEveryFrame(int32_t w, int32_t h, const std::vector<uint8_t>& levels) {
    AgainstLiteral check(w, h);
    const int32_t n = w * h;
    std::vector<int32_t> digit(n, 0);
    std::vector<uint8_t> gray(n, levels[0]);
    const int32_t base = static_cast<int32_t>(levels.size());
    while (true) {
        if (!check.same(gray.data())) return;
        int32_t i = 0;
        while (i < n && digit[i] == base - 1) {
            digit[i] = 0;
            gray[i] = levels[0];
            ++i;
        }
        if (i == n) return;
        gray[i] = levels[++digit[i]];
    }
}

TEST(DepthMapAgainstLiteral, EveryFrameOfFewLevels) {
    checkEveryFrame(3, 3, {0, 128, 255});
    checkEveryFrame(4, 4, {3, 250});
    checkEveryFrame(2, 5, {9, 10, 11});
}

TEST(DepthMapAgainstLiteral, RandomSmallFramesWithPlateaus) {
    std::mt19937 random(8);
    for (int32_t w : {1, 2, 4, 9}) {
        for (int32_t h : {1, 3, 8}) {
            AgainstLiteral check(w, h);
            std::vector<uint8_t> gray(w * h);
            for (int round = 0; round < 400; ++round) {
                // 2 to 5 levels anywhere in 0..255, so that plateaus and ties abound.
                std::vector<uint8_t> levels(2 + random() % 4);
                for (uint8_t& l : levels) l = static_cast<uint8_t>(random() % 256);
                for (uint8_t& g : gray) g = levels[random() % levels.size()];
                if (!check.same(gray.data())) return;
            }
        }
    }
}

TEST(DepthMapAgainstLiteral, RandomWideFrames) {
    // Rows long enough to be run sixteen pixels at a time, with a tail of every length: few
    // levels, and random walks whose levels carry along a row over many pixels.
    std::mt19937 random(12);
    for (int32_t w = 17; w <= 52; w += 5) {
        for (int32_t h : {3, 7}) {
            AgainstLiteral check(w, h);
            std::vector<uint8_t> gray(w * h);
            for (int round = 0; round < 60; ++round) {
                int level = static_cast<int>(random() % 256);
                for (uint8_t& g : gray) {
                    level = round % 2 ? static_cast<int>(random() % 3) * 100
                                      : std::clamp(level + static_cast<int>(random() % 7) - 3, 0, 255);
                    g = static_cast<uint8_t>(level);
                }
                if (!check.same(gray.data())) return;
            }
        }
    }
}

TEST(DepthMapAgainstLiteral, LinesAndUniformFrames) {
    std::mt19937 random(9);
    for (int32_t n : {1, 2, 3, 7, 40, 333}) {
        AgainstLiteral row(n, 1), column(1, n);
        std::vector<uint8_t> gray(n);
        for (int round = 0; round < 40; ++round) {
            for (uint8_t& g : gray) g = static_cast<uint8_t>(random() % (round % 2 ? 3 : 256));
            if (!row.same(gray.data()) || !column.same(gray.data())) return;
        }
    }
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{64, 48}}) {
        AgainstLiteral check(w, h);
        for (int v : {0, 1, 77, 254, 255}) {
            const std::vector<uint8_t> gray(w * h, static_cast<uint8_t>(v));
            if (!check.same(gray.data())) return;
        }
    }
}

TEST(DepthMapAgainstLiteral, GeneratedSeriesFrames) {
    SeriesParams params;
    params.width = 320;
    params.height = 240;
    params.cellCount = 60;
    AgainstLiteral check(params.width, params.height);
    std::vector<uint8_t> gray(params.width * params.height);
    for (int32_t frame = 1; frame <= 4; ++frame) {
        renderSyntheticFrame(params, frame, gray.data());
        ASSERT_TRUE(check.same(gray.data())) << "frame " << frame;
        // Coarse grays: wide plateaus at every level.
        for (uint8_t& g : gray) g = static_cast<uint8_t>(g / 32 * 32);
        ASSERT_TRUE(check.same(gray.data())) << "coarse frame " << frame;
    }
}

TEST(DepthMapAgainstLiteral, RealFrames) {
    namespace fs = std::filesystem;
    const fs::path data = VANTO_SHARED_DATA;
    VANTO_NEED_SHARED_DATA(data.string());
    int checked = 0;
    for (const auto& [folder, pattern, w, h] :
         {std::tuple{"c2c12-phase", "c2c12_%04d.png", 234, 234}, std::tuple{"mitocheck-nuclei", "inv_%04d.png", 211, 190},
          std::tuple{"t98g-phase", "t98g_%04d.png", 640, 512}}) {
        AgainstLiteral check(w, h);
        Canvas canvas;
        canvas.createCanvas(w, h);
        for (int32_t frame : {1, 5}) {
            char name[64];
            std::snprintf(name, sizeof name, pattern, frame);
            const fs::path path = data / folder / name;
            ASSERT_EQ(loadFrame(canvas, path.c_str(), 0, 0).code, StatusCode::ok) << path;
            ASSERT_TRUE(check.same(canvas.gray.data())) << path;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6);
}

}  // namespace
}  // namespace vanto
