// Intensity statistics of cells over a plane of source values, and their background ring.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "measure/cell_intensities.h"

namespace vanto {
namespace {

struct Plane {
    int32_t width, height;
    std::vector<int32_t> labels;
    std::vector<float> values;
    Plane(int32_t w, int32_t h) : width(w), height(h), labels(static_cast<size_t>(w * h), -1), values(labels.size(), 0) {}
    void set(int32_t x, int32_t y, int32_t label, float value) {
        labels[static_cast<size_t>(y * width + x)] = label;
        values[static_cast<size_t>(y * width + x)] = value;
    }
    FrameCells cells(int32_t count) {
        FrameCells c;
        c.width = width;
        c.height = height;
        c.pixelCount = int64_t{width} * height;
        c.frameLabels = labels.data();
        c.finalCount = count;
        return c;
    }
};

// A one-pixel cell far from the border: its ring is every lattice point at squared distance
// 4 to 16, 49 - 9 = 40 pixels; a pixel of another cell there is left out.
TEST(CellIntensities, TheRingIsTwoToFourPixelsOutOfCellPixelsOnly) {
    Plane p(15, 15);
    for (int32_t y = 0; y < 15; ++y)
        for (int32_t x = 0; x < 15; ++x) {
            const int32_t d2 = (x - 7) * (x - 7) + (y - 7) * (y - 7);
            p.values[static_cast<size_t>(y * 15 + x)] = d2 >= 4 && d2 <= 16 ? 10.0f + static_cast<float>(d2) : 1000;
        }
    p.set(7, 7, 0, 50);
    CellIntensities measures;
    ASSERT_TRUE(measures.reserve(15, 15, 1));
    const float* planes[] = {p.values.data()};
    const bool measured[] = {true};
    FrameCells cells = p.cells(1);
    measures.measure(cells, planes, measured, 1);
    EXPECT_EQ(measures.of(0, 0).ringCount, 40);
    // Distances 4 (4 pixels), 5 (8), 8 (4), 9 (4), 10 (8), 13 (8), 16 (4): the median of 40 is
    // the mean of the 20th and 21st values, 10 + 9 and 10 + 10.
    EXPECT_DOUBLE_EQ(measures.of(0, 0).background, 19.5);

    p.set(9, 7, 1, 3);  // another cell over ring pixels at squared distances 4 and 9
    p.set(10, 7, 1, 3);
    cells = p.cells(2);
    measures.measure(cells, planes, measured, 1);
    EXPECT_EQ(measures.of(0, 0).ringCount, 38);
    EXPECT_DOUBLE_EQ(measures.of(0, 0).background, 20);  // the 19th and 20th of 38 are now 10 + 10
    EXPECT_EQ(measures.of(0, 0).count, 1);
    EXPECT_DOUBLE_EQ(measures.of(0, 0).integrated, 50);
    EXPECT_EQ(measures.of(0, 1).count, 2);
}

TEST(CellIntensities, StatisticsOfTheCellsPixels) {
    Plane p(6, 4);
    const float v[] = {4, 1, 7, 2};  // cell 0: an even count
    for (int32_t i = 0; i < 4; ++i) p.set(i, 0, 0, v[i]);
    p.set(0, 3, 1, 5);  // cell 1: one pixel, one NaN left out
    p.set(1, 3, 1, std::numeric_limits<float>::quiet_NaN());
    p.set(5, 3, 2, std::numeric_limits<float>::quiet_NaN());  // cell 2: nothing to measure
    CellIntensities measures;
    ASSERT_TRUE(measures.reserve(6, 4, 2));
    const float* planes[] = {p.values.data(), p.values.data()};
    const bool measured[] = {true, false};
    FrameCells cells = p.cells(3);
    measures.measure(cells, planes, measured, 2);
    const IntensityStats& a = measures.of(0, 0);
    EXPECT_EQ(a.count, 4);
    EXPECT_DOUBLE_EQ(a.mean, 3.5);
    EXPECT_DOUBLE_EQ(a.median, 3);
    EXPECT_DOUBLE_EQ(a.min, 1);
    EXPECT_DOUBLE_EQ(a.max, 7);
    EXPECT_DOUBLE_EQ(a.integrated, 14);
    EXPECT_DOUBLE_EQ(a.deviation, std::sqrt((0.25 + 6.25 + 12.25 + 2.25) / 4));
    const IntensityStats& b = measures.of(0, 1);
    EXPECT_EQ(b.count, 1);
    EXPECT_DOUBLE_EQ(b.median, 5);
    EXPECT_DOUBLE_EQ(b.deviation, 0);
    EXPECT_EQ(measures.of(0, 2).count, 0);
    EXPECT_EQ(measures.of(1, 0).count, 0);  // a plane not measured
}

}  // namespace
}  // namespace vanto
