#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
