#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "limit_frames.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;

const char* kBanner = "--- Vanto version 1.0.3.0 (2020/02/22) ---";

TEST(RunLifecycle, ZeroFramesWritesTheStartUpLinesAndTheReportHeaders) {
    TempDir dir;
    for (const char* count : {"0", "-3"}) {
        const auto out = runProgram({"-output", dir.path(), "-count", count, "-threshold", "-5", "-x", "2"});
        EXPECT_EQ(out.status, 0);
        EXPECT_EQ(out.errors, "");
        const std::string expected =
            std::string(kBanner) + "\nSize : 0 x 0 (2, 0)\nThreshold : -5\n--- Memory Prepared ---\n\n";
        EXPECT_EQ(out.console, expected);
        EXPECT_EQ(readFile(dir.file("_log.txt")), expected);
        EXPECT_EQ(splitLines(readFile(dir.file("_average.csv"))).size(), 2u);
        EXPECT_EQ(splitLines(readFile(dir.file("_cell.csv"))).size(), 1u);
    }
}

TEST(RunLifecycle, OneFrameIsAnalysedAndTimed) {
    TempDir dir;
    SeriesParams params;
    params.width = 96;
    params.height = 64;
    params.cellCount = 4;
    std::vector<uint8_t> frame(96 * 64);
    renderSyntheticFrame(params, 1, frame.data());
    ASSERT_TRUE(writeGrayPng(dir.file("f_001.png").c_str(), 96, 64, frame.data()));
    const auto out = runProgram({"-source", dir.path() + "/f_^03d.png", "-w", "96", "-h", "64", "-count", "1",
                                 "-threshold", "20", "-output", dir.path()});
    ASSERT_EQ(out.status, 0) << out.errors;
    const auto console = splitLines(out.console);
    ASSERT_EQ(console.size(), 10u) << out.console;
    EXPECT_EQ(console[0], kBanner);
    EXPECT_EQ(console[1], "Size : 96 x 64 (0, 0)");
    EXPECT_EQ(console[2], "Threshold : 20");
    EXPECT_EQ(console[3].rfind("Platform name : ", 0), 0u);
    EXPECT_EQ(console[4].rfind("Device name : ", 0), 0u);
    EXPECT_EQ(console[5], "--- Memory Prepared ---");
    EXPECT_EQ(console[6], "");
    EXPECT_EQ(console[7], "--- " + dir.path() + "/f_001.png ---");
    EXPECT_EQ(console[8].rfind("--- Analysis Finished in ", 0), 0u);
    EXPECT_EQ(console[8].substr(console[8].size() - 4), " ---");
    EXPECT_EQ(console[9], "");
    const auto log = splitLines(readFile(dir.file("_log.txt")));
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[3], "--- Memory Prepared ---");
    EXPECT_EQ(log[5], console[7]);
    EXPECT_EQ(log[6].rfind("--- Analysis Finished in ", 0), 0u);
    EXPECT_EQ(splitLines(readFile(dir.file("_average.csv"))).size(), 3u);
}

TEST(RunLifecycle, AMissingFrameIsReportedOnTheConsoleOnlyAndTheRunGoesOn) {
    TempDir dir;
    const std::vector<uint8_t> gray(8 * 6, 128);
    ASSERT_TRUE(writeGrayPng(dir.file("some_1.png").c_str(), 8, 6, gray.data()));
    ASSERT_TRUE(writeGrayPng(dir.file("some_3.png").c_str(), 8, 6, gray.data()));
    const auto out = runProgram({"-source", dir.path() + "/some_%d.png", "-w", "8", "-h", "6", "-count", "3",
                                 "-output", dir.path()});
    ASSERT_EQ(out.status, 2) << out.errors;  // finished, with an unreadable frame
    const auto console = splitLines(out.console);
    int errorsSeen = 0;
    for (const auto& line : console) errorsSeen += line == "Image Load Error";
    EXPECT_EQ(errorsSeen, 1);
    const std::string log = readFile(dir.file("_log.txt"));
    EXPECT_EQ(log.find("Image Load Error"), std::string::npos);
    EXPECT_NE(log.find("some_2.png ---"), std::string::npos);
    EXPECT_EQ(splitLines(readFile(dir.file("_average.csv"))).size(), 5u);
}

TEST(RunLifecycle, TheCellLimitStopsTheRunAfterTheEarlierFramesRows) {
    TempDir dir;
    ASSERT_TRUE(testing::writeSparseFrame(dir.file("f_1.png"), 1));
    ASSERT_TRUE(testing::writeCrowdedFrame(dir.file("f_2.png")));
    ASSERT_TRUE(testing::writeSparseFrame(dir.file("f_3.png"), 1));
    const auto out = runProgram({"-source", dir.path() + "/f_%d.png", "-w", "945", "-h", "945", "-count", "3",
                                 "-threshold", "20", "-output", dir.path()});
    ASSERT_EQ(out.status, 0) << out.errors;
    const auto console = splitLines(out.console);
    ASSERT_GE(console.size(), 2u);
    EXPECT_EQ(console.back(), "Cell Number Too Much ");
    EXPECT_EQ(console[console.size() - 2], "--- " + dir.path() + "/f_2.png ---");
    const auto log = splitLines(readFile(dir.file("_log.txt")));
    EXPECT_EQ(log.back(), "Cell Number Too Much ");
    EXPECT_EQ(out.console.find("f_3.png"), std::string::npos);
    const auto average = splitLines(readFile(dir.file("_average.csv")));
    ASSERT_EQ(average.size(), 3u);
    EXPECT_EQ(average[2].substr(0, 2), "1,");
    for (const auto& row : splitLines(readFile(dir.file("_cell.csv")))) EXPECT_NE(row.substr(0, 2), "2,");
}

TEST(RunRefusals, EachCauseGivesOneLineOnStandardErrorAndStatus1) {
    TempDir dir;
    const std::string src = dir.path() + "/f_%04d.png";
    const std::vector<uint8_t> gray(5 * 5, 128);
    ASSERT_TRUE(writeGrayPng(dir.file("f_0001.png").c_str(), 5, 5, gray.data()));
    const std::string tooLong(600, 'a');
    const std::vector<std::vector<std::string>> cases = {
        {"-count", "0"},                                                         // no -output
        {"-output", dir.path() + "/missing", "-count", "0"},                     // folder missing
        {"-output", dir.path(), "-count", "1", "-w", "0", "-h", "5", "-source", src},
        {"-output", dir.path(), "-count", "1", "-w", "5", "-h", "-1", "-source", src},
        {"-output", dir.path(), "-count", "1", "-w", "5", "-h", "5", "-source", dir.path() + "/f.png"},
        {"-output", dir.path(), "-count", "1", "-w", "5", "-h", "5", "-source", dir.path() + "/%s_%d.png"},
        {"-output", dir.path(), "-count", "1", "-w", "5", "-h", "5", "-source", dir.path() + "/" + tooLong + "%d"},
        {"-output", dir.path() + "/" + tooLong, "-count", "0"},
        {"-output", dir.path(), "-count", "1", "-w", "5", "-h", "5", "-source", src, "-image"},
    };
    for (size_t i = 0; i + 1 < cases.size(); ++i) {
        const auto out = runProgram(cases[i]);
        EXPECT_EQ(out.status, 1) << "case " << i;
        EXPECT_EQ(splitLines(out.errors).size(), 1u) << "case " << i << ": " << out.errors;
        EXPECT_EQ(out.console.find("--- Memory Prepared ---"), std::string::npos) << "case " << i;
    }
    // A bitmap path that fits is no reason to refuse.
    EXPECT_EQ(runProgram(cases.back()).status, 0);
}

}  // namespace
}  // namespace vanto
