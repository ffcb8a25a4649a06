// -halo on drawn cells whose answer is known by construction (a bright crescent beside a dark
// disc, lone bright blobs, a bright bar between two cells) and on random frames against the
// window mean computed directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "model/records.h"
#include "segment/halo_join.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

struct Frame {
    int32_t w, h;
    std::vector<int32_t> labels;
    std::vector<uint8_t> gray;
    std::vector<int32_t> marks, queue, columns, tally;
    Frame(int32_t width, int32_t height, uint8_t background)
        : w(width), h(height), labels(width * height, -1), gray(width * height, background), marks(width * height),
          queue(width * height), columns(width), tally(2 * kTableRecords) {}
    void paint(int32_t x, int32_t y, uint8_t g, int32_t label = -1) {
        gray[y * w + x] = g;
        labels[y * w + x] = label;
    }
    void rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t g, int32_t label = -1) {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) paint(x, y, g, label);
    }
    int32_t join(int32_t count, double t, int32_t lone) {
        OffsetSteps steps;
        buildOffsetSteps(testing::runTables(), w, steps);
        return joinHalos(labels.data(), w, h, count, gray.data(), t, lone, steps,
                         {marks.data(), queue.data(), columns.data(), tally.data()});
    }
};

TEST(HaloJoin, ABrightCrescentJoinsItsCellAndALoneBlobBecomesACell) {
    // A dark disc (cell 0, radius 5) with a bright crescent on its right out to radius 8; a
    // bright disc of radius 3 (29 pixels) touching nothing; a bright 2 x 2 speck.
    for (const int32_t lone : {0, 10, 29, 30}) {
        Frame f(60, 50, 100);
        std::vector<int32_t> expected(f.labels.size(), -1);
        for (int32_t y = 0; y < f.h; ++y) {
            for (int32_t x = 0; x < f.w; ++x) {
                const int32_t d2 = (x - 20) * (x - 20) + (y - 25) * (y - 25);
                const int32_t b2 = (x - 45) * (x - 45) + (y - 10) * (y - 10);
                if (d2 <= 25) f.paint(x, y, 40, 0);
                if (d2 > 25 && d2 <= 64 && x > 20) f.paint(x, y, 200);
                if (b2 <= 9) f.paint(x, y, 200);
                const int p = y * f.w + x;
                if (d2 <= 25 || (d2 <= 64 && x > 20)) expected[p] = 0;
                if (b2 <= 9 && lone > 0 && lone <= 29) expected[p] = 1;
            }
        }
        f.rect(45, 40, 46, 41, 200);
        EXPECT_EQ(f.join(1, 30, lone), lone > 0 && lone <= 29 ? 1 : 0) << lone;
        EXPECT_EQ(f.labels, expected) << lone;
    }
}

TEST(HaloJoin, APartGoesToTheCellItTouchesMostTheLowerOnATie) {
    // Cells 0 and 1 are dark bars with a bright block of 5 rows between them; a bright pixel
    // touches cell 1 only at a corner and a fainter block is not bright enough.
    for (const bool shortLeft : {false, true}) {
        Frame f(40, 32, 100);
        f.rect(10, shortLeft ? 14 : 10, 12, 20, 30, 0);
        f.rect(16, 10, 18, 20, 30, 1);
        f.rect(13, 12, 15, 16, 220);
        f.paint(19, 21, 220);
        f.rect(25, 10, 26, 11, 115);
        std::vector<int32_t> expected = f.labels;
        // Against cell 0 the block has 5 (or 3) rows of contact, against cell 1 always 5.
        for (int32_t y = 12; y <= 16; ++y)
            for (int32_t x = 13; x <= 15; ++x) expected[y * f.w + x] = shortLeft ? 1 : 0;
        EXPECT_EQ(f.join(2, 40, 0), 0);
        EXPECT_EQ(f.labels, expected) << shortLeft;
    }
}

TEST(HaloJoin, BrightPixelsAreThoseAboveTheirWindowMean) {
    // No cell but a few dark blocks, every bright part a cell of its own (lone parts of one
    // pixel): the free pixels that become cells are exactly those at least t above the mean
    // gray of their window (clipped at the frame's edges), computed directly.
    std::mt19937 random(11);
    for (const auto& [w, h, t] : {std::tuple{70, 45, 20.0}, std::tuple{23, 64, 12.5}, std::tuple{9, 5, 3.0}}) {
        Frame f(w, h, 0);
        for (auto& g : f.gray) g = static_cast<uint8_t>(random() % 256 / (random() % 4 + 1));
        int32_t cells = 0;
        for (int32_t i = 0; i < 3; ++i) {
            const int32_t x = static_cast<int32_t>(random() % (w - 2)), y = static_cast<int32_t>(random() % (h - 2));
            f.rect(x, y, x + 1, y + 1, 0, cells++);
        }
        const std::vector<int32_t> before = f.labels;
        f.join(cells, t, 1);
        int64_t changed = 0;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                constexpr int32_t r = kHaloWindowRadius;
                int64_t sum = 0, n = 0;
                for (int32_t yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy) {
                    for (int32_t xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
                        sum += f.gray[yy * w + xx];
                        ++n;
                    }
                }
                const int p = y * w + x;
                if (before[p] >= 0) {
                    ASSERT_EQ(f.labels[p], before[p]);
                    continue;
                }
                const bool bright = f.gray[p] - static_cast<double>(sum) / static_cast<double>(n) >= t;
                ASSERT_EQ(f.labels[p] >= 0, bright) << x << "," << y << " of " << w << " x " << h;
                changed += bright;
            }
        }
        EXPECT_GT(changed, 0);
    }
}

}  // namespace
}  // namespace vanto
