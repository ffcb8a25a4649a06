#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "image/frame_loader.h"
#include "load_frame.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> frameOf(const SeriesParams& p, int32_t k) {
    std::vector<uint8_t> f(static_cast<size_t>(p.width) * p.height);
    renderSyntheticFrame(p, k, f.data());
    return f;
}

double fractionWhere(const std::vector<uint8_t>& f, bool (*pred)(uint8_t)) {
    return static_cast<double>(std::count_if(f.begin(), f.end(), pred)) / static_cast<double>(f.size());
}

bool isDark(uint8_t v) { return v < 128; }

size_t classChanges(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += isDark(a[i]) != isDark(b[i]);
    return n;
}

TEST(SyntheticSeries, SameSeedGivesTheSameFramesInAnyOrder) {
    SeriesParams p;
    p.width = 96;
    p.height = 64;
    p.cellCount = 10;
    p.seed = 3;
    const std::vector<uint8_t> fifth = frameOf(p, 5);
    frameOf(p, 2);
    EXPECT_EQ(frameOf(p, 5), fifth);
    SeriesParams other = p;
    other.seed = 4;
    EXPECT_GT(std::inner_product(fifth.begin(), fifth.end(), frameOf(other, 5).begin(), size_t{0}, std::plus<>(),
                                 [](uint8_t a, uint8_t b) { return size_t{a != b}; }),
              fifth.size() / 2);
}

TEST(SyntheticSeries, BackgroundIsBrightUnevenAndNoisy) {
    SeriesParams p;
    p.cellCount = 0;
    const std::vector<uint8_t> f = frameOf(p, 1);
    EXPECT_GE(*std::min_element(f.begin(), f.end()), 165);
    EXPECT_LE(*std::max_element(f.begin(), f.end()), 225);
    size_t steps = 0;
    for (size_t i = 1; i < f.size(); ++i) steps += f[i] != f[i - 1];
    EXPECT_GT(steps, f.size() / 2) << "per-pixel noise";
    EXPECT_NE(frameOf(p, 2), f) << "noise is drawn anew every frame";
}

TEST(SyntheticSeries, CellsAreDarkSoftEdgedAndCoverPartOfTheFrame) {
    const SeriesParams p;
    const std::vector<uint8_t> f = frameOf(p, 1);
    EXPECT_GE(*std::min_element(f.begin(), f.end()), 33);
    EXPECT_LE(*std::max_element(f.begin(), f.end()), 225);
    const double dark = fractionWhere(f, [](uint8_t v) { return v <= 95; });
    const double bright = fractionWhere(f, [](uint8_t v) { return v >= 165; });
    const double between = fractionWhere(f, [](uint8_t v) { return v > 95 && v < 165; });
    EXPECT_GT(dark, 0.05);
    EXPECT_LT(dark, 0.4);
    EXPECT_GT(bright, 0.5);
    EXPECT_GT(between, 0.005) << "soft edges";
    EXPECT_LT(between, dark) << "edges are narrow";
}

TEST(SyntheticSeries, CellsMoveAFewPixelsPerFrame) {
    const SeriesParams p;
    const std::vector<uint8_t> first = frameOf(p, 1);
    const size_t darkPixels = static_cast<size_t>(std::count_if(first.begin(), first.end(), isDark));
    const size_t oneStep = classChanges(first, frameOf(p, 2));
    const size_t manySteps = classChanges(first, frameOf(p, 20));
    EXPECT_GT(oneStep, 0u);
    EXPECT_LT(oneStep, darkPixels / 2) << "most of a cell overlaps itself in the next frame";
    EXPECT_GT(manySteps, 2 * oneStep);
    // Cells stay mostly inside: the dark area hardly shrinks over the series.
    const std::vector<uint8_t> last = frameOf(p, 20);
    EXPECT_GT(static_cast<size_t>(std::count_if(last.begin(), last.end(), isDark)), darkPixels * 3 / 4);
}

// A series with every labelled feature on, small enough to render quickly.
SeriesParams labelledParams() {
    SeriesParams p;
    p.width = 200;
    p.height = 150;
    p.cellCount = 16;
    p.seed = 5;
    p.divisions = 3;
    p.frameCount = 12;
    return p;
}

struct LabelledFrame {
    std::vector<uint8_t> gray;
    std::vector<uint16_t> labels;
};

LabelledFrame labelledFrame(const SeriesParams& p, int32_t k) {
    LabelledFrame f{std::vector<uint8_t>(static_cast<size_t>(p.width) * p.height),
                    std::vector<uint16_t>(static_cast<size_t>(p.width) * p.height)};
    renderSyntheticFrame(p, k, f.gray.data(), f.labels.data());
    return f;
}

TEST(SyntheticLabels, LabelsAskedForLeaveTheFrameAsItIs) {
    for (SeriesParams p : {SeriesParams{}, labelledParams()}) {
        p.debris = 7;
        EXPECT_EQ(labelledFrame(p, 4).gray, frameOf(p, 4));
    }
}

TEST(SyntheticLabels, LabelledPixelsAreTheDarkOnesOfANoiseFreeFrame) {
    SeriesParams p = labelledParams();
    p.noise = 0;
    for (int32_t k : {1, 6, 12}) {
        const LabelledFrame f = labelledFrame(p, k);
        size_t labelled = 0;
        for (int32_t y = 0; y < p.height; ++y)
            for (int32_t x = 0; x < p.width; ++x) {
                const size_t at = static_cast<size_t>(y) * p.width + x;
                if (f.labels[at] > 0) {
                    ++labelled;
                    // Inside the outline a cell covers at least half of the pixel.
                    EXPECT_LT(f.gray[at], 160) << x << "," << y;
                    continue;
                }
                bool nearCell = false;
                for (int32_t dy = -2; dy <= 2; ++dy)
                    for (int32_t dx = -2; dx <= 2; ++dx) {
                        const int32_t xx = x + dx, yy = y + dy;
                        if (xx >= 0 && yy >= 0 && xx < p.width && yy < p.height &&
                            f.labels[static_cast<size_t>(yy) * p.width + xx] > 0)
                            nearCell = true;
                    }
                if (!nearCell) {
                    EXPECT_GE(f.gray[at], 165) << x << "," << y;
                }
            }
        EXPECT_GT(labelled, f.labels.size() / 20);
    }
}

TEST(SyntheticLabels, ADivisionEndsTheMotherAndStartsTwoTouchingDaughters) {
    const SeriesParams p = labelledParams();
    const std::vector<int32_t> parents = syntheticParents(p);
    ASSERT_EQ(parents.size(), static_cast<size_t>(p.cellCount + 2 * p.divisions + 1));
    int32_t divisionsSeen = 0;
    for (int32_t mother = 1; mother <= p.divisions; ++mother) {
        const int32_t d1 = p.cellCount + 2 * mother - 1, d2 = d1 + 1;
        EXPECT_EQ(parents[d1], mother);
        EXPECT_EQ(parents[d2], mother);
        for (int32_t k = 2; k <= p.frameCount; ++k) {
            const LabelledFrame before = labelledFrame(p, k - 1), after = labelledFrame(p, k);
            const auto area = [](const std::vector<uint16_t>& l, int32_t id) {
                return std::count(l.begin(), l.end(), static_cast<uint16_t>(id));
            };
            if (area(after.labels, d1) == 0) {
                EXPECT_EQ(area(after.labels, d2), 0);
                continue;
            }
            if (area(before.labels, d1) > 0) continue;
            // k is the division frame.
            ++divisionsSeen;
            EXPECT_EQ(area(before.labels, d2), 0);
            EXPECT_EQ(area(after.labels, mother), 0);
            const double motherArea = static_cast<double>(area(before.labels, mother));
            for (int32_t d : {d1, d2}) {
                EXPECT_GT(area(after.labels, d), 0.25 * motherArea) << d;
                EXPECT_LT(area(after.labels, d), 0.75 * motherArea) << d;
            }
            bool touching = false;
            for (size_t at = 0; at + 1 < after.labels.size(); ++at)
                touching = touching || (after.labels[at] == d1 && after.labels[at + 1] == d2) ||
                           (after.labels[at] == d2 && after.labels[at + 1] == d1) ||
                           (at + p.width < after.labels.size() &&
                            ((after.labels[at] == d1 && after.labels[at + p.width] == d2) ||
                             (after.labels[at] == d2 && after.labels[at + p.width] == d1)));
            EXPECT_TRUE(touching) << "daughters of " << mother;
            EXPECT_GE(k, 3);
            EXPECT_LE(k, p.frameCount - 2);
        }
    }
    EXPECT_EQ(divisionsSeen, p.divisions);
}

TEST(SyntheticLabels, DebrisDarkensOnlyTheBackgroundAndNoiseSetsTheSpread) {
    SeriesParams p = labelledParams();
    p.noise = 0;
    const LabelledFrame clean = labelledFrame(p, 2);
    p.debris = 40;
    const LabelledFrame dirty = labelledFrame(p, 2);
    EXPECT_EQ(dirty.labels, clean.labels) << "debris is no cell";
    size_t specks = 0;
    for (size_t at = 0; at < clean.gray.size(); ++at) {
        EXPECT_LE(dirty.gray[at], clean.gray[at]);
        if (clean.gray[at] - dirty.gray[at] >= 15) {
            ++specks;
            EXPECT_EQ(clean.labels[at], 0);
        }
    }
    EXPECT_GT(specks, 40u);
    EXPECT_LT(specks, 40u * 20);
    // Still: the same specks in a later frame.
    const LabelledFrame later = labelledFrame(p, 9);
    SeriesParams withoutDebris = p;
    withoutDebris.debris = 0;
    const LabelledFrame laterClean = labelledFrame(withoutDebris, 9);
    size_t moved = 0;
    for (size_t at = 0; at < clean.gray.size(); ++at)
        if (clean.gray[at] == laterClean.gray[at] && clean.gray[at] >= 165)  // background in both frames
            moved += (clean.gray[at] - dirty.gray[at] >= 15) != (laterClean.gray[at] - later.gray[at] >= 15);
    EXPECT_EQ(moved, 0u);

    // Noise: the sum of two integers from -A to A, standard deviation sqrt(2 A (A + 1) / 3).
    p.debris = 0;
    for (int32_t amplitude : {3, 8}) {
        SeriesParams noisy = p;
        noisy.noise = amplitude;
        const std::vector<uint8_t> f = frameOf(noisy, 2);
        double sum = 0, sum2 = 0;
        int32_t widest = 0;
        for (size_t at = 0; at < f.size(); ++at) {
            const int32_t d = f[at] - clean.gray[at];
            sum += d;
            sum2 += static_cast<double>(d) * d;
            widest = std::max(widest, std::abs(d));
        }
        const double n = static_cast<double>(f.size());
        EXPECT_NEAR(sum / n, 0, 0.1) << amplitude;
        EXPECT_NEAR(std::sqrt(sum2 / n), std::sqrt(2.0 * amplitude * (amplitude + 1) / 3), 0.1) << amplitude;
        EXPECT_EQ(widest, 2 * amplitude);
    }
}

class SyntheticFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("vanto_synth_" + std::to_string(getpid()) + "_" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(SyntheticFiles, WrittenFramesLoadBackUnchanged) {
    SeriesParams p;
    p.width = 50;
    p.height = 30;
    p.cellCount = 4;
    const std::vector<uint8_t> f = frameOf(p, 3);
    ASSERT_TRUE(writeGrayPng((dir / "f.png").c_str(), p.width, p.height, f.data()));
    ASSERT_TRUE(writeGrayTiff((dir / "f.tif").c_str(), p.width, p.height, f.data()));
    for (const char* name : {"f.png", "f.tif"}) {
        Canvas c;
        c.createCanvas(p.width, p.height);
        ASSERT_EQ(loadFrame(c, (dir / name).c_str(), 0, 0).code, StatusCode::ok) << name;
        EXPECT_EQ(c.gray, f) << name;
    }
    EXPECT_FALSE(writeGrayPng((dir / "no" / "f.png").c_str(), p.width, p.height, f.data()));
    EXPECT_FALSE(writeGrayTiff((dir / "no" / "f.tif").c_str(), p.width, p.height, f.data()));
}

TEST_F(SyntheticFiles, ToolWritesTheSeriesAndPrintsMatchingOptions) {
    const std::string exe = VANTO_SYNTH_EXE;
    if (exe.empty()) GTEST_SKIP() << "vanto_synth is not built";
    const fs::path out = dir / "new" / "series";  // created by the tool
    const std::string command = exe + " --out " + out.string() +
                                " --frames 2 --width 40 --height 30 --cells 3 --seed 9 --prefix s --format tiff";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string printed;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) printed += buffer;
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(printed, "-source " + out.string() + "/s_^04d.tif -w 40 -h 30 -count 2 -threshold 20 -size 56\n");
    EXPECT_TRUE(fs::exists(out / "s_0001.tif"));
    EXPECT_FALSE(fs::exists(out / "s_0003.tif"));
    SeriesParams p;
    p.width = 40;
    p.height = 30;
    p.cellCount = 3;
    p.seed = 9;
    Canvas c;
    c.createCanvas(40, 30);
    ASSERT_EQ(loadFrame(c, (out / "s_0002.tif").c_str(), 0, 0).code, StatusCode::ok);
    EXPECT_EQ(c.gray, frameOf(p, 2));
}

}  // namespace
}  // namespace vanto
