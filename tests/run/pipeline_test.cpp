#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "shared_data.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::splitFields;
using testing::splitLines;
using testing::TempDir;

// Column positions (0-based) of the cell report.
enum CellColumn {
    colFrame = 0,
    colId = 2,
    colCenterX = 6,
    colCenterY = 7,
    colVoronoi = 8,
    colLife = 18,
    colTotalWay = 20,
    colAveWay45 = 23,
    colDistance1 = 29,
};

struct CellRow {
    std::vector<std::string> f;
    int num(int c) const { return std::stoi(f[c]); }
    double real(int c) const { return std::stod(f[c]); }
};

struct Reports {
    std::vector<std::string> cellLines;
    std::vector<std::string> averageLines;
    std::map<int, std::vector<CellRow>> rowsByFrame;
};

Reports readReports(const TempDir& out) {
    Reports r;
    r.cellLines = splitLines(readFile(out.file("_cell.csv")));
    r.averageLines = splitLines(readFile(out.file("_average.csv")));
    for (size_t i = 1; i < r.cellLines.size(); ++i) {
        CellRow row{splitFields(r.cellLines[i])};
        r.rowsByFrame[row.num(colFrame)].push_back(row);
    }
    return r;
}

// Checks that hold for every run, whatever the frames: the shape of both reports, one row per
// identity and frame, and identities carried with their age, path and last step.
void checkReportInvariants(const Reports& r, int frames) {
    ASSERT_FALSE(r.cellLines.empty());
    EXPECT_EQ(splitFields(r.cellLines[0]).size(), 32u);
    for (size_t i = 1; i < r.cellLines.size(); ++i) {
        const size_t n = splitFields(r.cellLines[i]).size();
        EXPECT_TRUE(n == 32 || n == 28) << r.cellLines[i];
        EXPECT_EQ(r.cellLines[i].back(), ',');
    }
    ASSERT_EQ(r.averageLines.size(), static_cast<size_t>(frames) + 2);
    for (const auto& line : r.averageLines) EXPECT_EQ(splitFields(line).size(), 45u) << line;

    for (const auto& [frame, rows] : r.rowsByFrame) {
        std::set<int> ids;
        for (const auto& row : rows) EXPECT_TRUE(ids.insert(row.num(colId)).second) << "frame " << frame;
        auto prev = r.rowsByFrame.find(frame - 1);
        for (const auto& row : rows) {
            const int life = row.num(colLife);
            if (life == 0) {
                EXPECT_EQ(row.real(colTotalWay), 0.0);
                continue;
            }
            if (prev == r.rowsByFrame.end()) continue;
            for (const auto& before : prev->second) {
                if (before.num(colId) != row.num(colId)) continue;
                EXPECT_EQ(before.num(colLife), life - 1);
                ASSERT_EQ(row.f.size(), 32u) << "a carried identity has a current step";
                const double dx = row.num(colCenterX) - before.num(colCenterX);
                const double dy = row.num(colCenterY) - before.num(colCenterY);
                const double step = std::sqrt(dx * dx + dy * dy);
                EXPECT_NEAR(row.real(colDistance1), step, 1e-4 * (1 + step));
                EXPECT_NEAR(row.real(colTotalWay), before.real(colTotalWay) + std::trunc(step * 100) / 100,
                            1e-4 * (1 + row.real(colTotalWay)));
            }
        }
    }
}

std::string withoutTimes(const std::vector<std::string>& averageLines) {
    std::string text;
    for (size_t i = 2; i < averageLines.size(); ++i) {
        auto f = splitFields(averageLines[i]);
        f[1].clear();
        for (const auto& field : f) text += field + ",";
        text += "\n";
    }
    return text;
}

class GeneratedSeriesRun : public ::testing::Test {
protected:
    static constexpr int kFrames = 62;
    static constexpr int kBlankFrame = 58;

    static void SetUpTestSuite() {
        frames_ = new TempDir;
        params_.width = 160;
        params_.height = 120;
        params_.cellCount = 6;
        params_.seed = 11;
        std::vector<uint8_t> pixels(params_.width * params_.height);
        for (int j = 1; j <= kFrames; ++j) {
            if (j == kBlankFrame) {
                std::fill(pixels.begin(), pixels.end(), 200);
            } else {
                renderSyntheticFrame(params_, j, pixels.data());
            }
            char name[64];
            std::snprintf(name, sizeof name, "/s_%04d.png", j);
            ASSERT_TRUE(writeGrayPng((frames_->path() + name).c_str(), params_.width, params_.height, pixels.data()));
        }
    }
    static void TearDownTestSuite() { delete frames_; }

    static testing::RunOutput analyse(const TempDir& out) {
        return runProgram({"-source", frames_->path() + "/s_^04d.png", "-w", std::to_string(params_.width), "-h",
                           std::to_string(params_.height), "-count", std::to_string(kFrames), "-threshold",
                           std::to_string(suggestedThreshold(params_)), "-size", "0", "-output", out.path(),
                           "-image", "-id", "-voronoi"});
    }

    static TempDir* frames_;
    static SeriesParams params_;
};

TempDir* GeneratedSeriesRun::frames_ = nullptr;
SeriesParams GeneratedSeriesRun::params_;

TEST_F(GeneratedSeriesRun, ReportsHoldTogetherAndRunsRepeatByteForByte) {
    TempDir first, second;
    const auto run1 = analyse(first);
    ASSERT_EQ(run1.status, 0) << run1.errors;
    const auto run2 = analyse(second);
    ASSERT_EQ(run2.status, 0) << run2.errors;

    const Reports r = readReports(first);
    checkReportInvariants(r, kFrames);

    // With no small cells every cell has a row, so the Voronoi areas tile the frame.
    const int pixels = params_.width * params_.height;
    int oldest = 0;
    for (const auto& [frame, rows] : r.rowsByFrame) {
        int area = 0;
        for (const auto& row : rows) {
            area += row.num(colVoronoi);
            oldest = std::max(oldest, row.num(colLife));
            if (row.num(colLife) >= 45) {
                EXPECT_FALSE(row.f[colAveWay45].empty());
            }
        }
        EXPECT_EQ(area, pixels) << "frame " << frame;
    }
    EXPECT_GE(oldest, 50) << "identities must outlive the 50-slot ring";
    EXPECT_EQ(r.rowsByFrame.count(kBlankFrame), 0u);
    EXPECT_EQ(r.rowsByFrame.size(), static_cast<size_t>(kFrames - 1));
    const auto blank = splitFields(r.averageLines[kBlankFrame + 1]);
    EXPECT_EQ(blank[0], std::to_string(kBlankFrame));
    EXPECT_EQ(blank[39], "0");
    for (const auto& row : r.rowsByFrame.at(kBlankFrame + 1)) {
        EXPECT_EQ(row.num(colLife), 0);
    }

    EXPECT_EQ(readFile(first.file("_cell.csv")), readFile(second.file("_cell.csv")));
    EXPECT_EQ(withoutTimes(r.averageLines), withoutTimes(splitLines(readFile(second.file("_average.csv")))));
    for (int j : {1, 2, 51, kBlankFrame, kFrames}) {
        char name[64];
        std::snprintf(name, sizeof name, "10_Calculation_%04d.bmp", j);
        const std::string calc = readFile(first.file(name));
        EXPECT_EQ(calc.size(), 54u + 480u * 120u) << name;
        EXPECT_EQ(calc, readFile(second.file(name))) << name;
        std::snprintf(name, sizeof name, "12_Voronoi_%04d.bmp", j);
        EXPECT_EQ(readFile(first.file(name)), readFile(second.file(name))) << name;
    }
}

struct RealSeries {
    const char* folder;
    const char* pattern;
    int width, height, frames;
    const char* threshold;
    const char* size;
};

class SharedData : public ::testing::TestWithParam<RealSeries> {};

TEST_P(SharedData, ReportsHoldTogether) {
    const RealSeries& s = GetParam();
    const std::string folder = std::string(VANTO_SHARED_DATA) + "/" + s.folder;
    VANTO_NEED_SHARED_DATA(folder);
    TempDir out;
    const auto run = runProgram({"-source", folder + "/" + s.pattern, "-w", std::to_string(s.width), "-h",
                                 std::to_string(s.height), "-count", std::to_string(s.frames), "-threshold",
                                 s.threshold, "-size", s.size, "-output", out.path()});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.console.find("Image Load Error"), std::string::npos);
    const Reports r = readReports(out);
    checkReportInvariants(r, s.frames);
    EXPECT_EQ(r.rowsByFrame.size(), static_cast<size_t>(s.frames)) << "every frame has cells";
}

INSTANTIATE_TEST_SUITE_P(Series, SharedData,
                         ::testing::Values(RealSeries{"c2c12-phase", "c2c12_%04d.png", 234, 234, 10, "12", "15"},
                                           RealSeries{"mitocheck-nuclei", "inv_%04d.png", 211, 190, 30, "15", "40"},
                                           RealSeries{"t98g-phase", "t98g_%04d.png", 640, 512, 37, "20", "100"}),
                         [](const auto& info) {
                             std::string name = info.param.folder;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace vanto
