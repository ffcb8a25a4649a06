// The program under signals and closed descriptors: standard descriptors closed at start, the terminal
// closed (SIGHUP), a console reader that goes away (SIGPIPE), a kill that leaves no time to
// clean up, and a series in which the first frames hold no cell.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::ChildSetup;
using testing::expectWholeFrames;
using testing::readFile;
using testing::runChild;
using testing::runProgram;
using testing::seriesWords;
using testing::splitLines;
using testing::TempDir;
using testing::with;

// The words as one shell command line (the test's paths hold no quotes).
std::string shellLine(const std::vector<std::string>& words) {
    std::string line = std::string("'") + VANTO_EXE + "'";
    for (const std::string& w : words) line += " '" + w + "'";
    return line;
}

int shellStatus(const std::string& command) {
    const int status = std::system(("/bin/bash -c \"" + command + "\"").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Log lines with the frame times masked.
std::string maskedLog(const std::string& path) {
    std::string text;
    for (std::string line : splitLines(readFile(path))) {
        if (line.rfind("--- Analysis Finished in ", 0) == 0) line = "--- Analysis Finished in T ---";
        text += line + "\n";
    }
    return text;
}

TEST(Surroundings, ClosedStandardOutputAndErrorLeaveTheReportsClean) {
    TempDir frames, usual, closed;
    const auto words = seriesWords(frames, 3);
    ASSERT_EQ(runProgram(with(words, {"-output", usual.path()})).status, 0);
    // Both closed, and standard input as well: the reports would otherwise open on 0, 1 and 2.
    EXPECT_EQ(shellStatus(shellLine(with(words, {"-output", closed.path()})) + " <&- >&- 2>&-"), 0);
    EXPECT_EQ(maskedLog(closed.file("_log.txt")), maskedLog(usual.file("_log.txt")));
    EXPECT_EQ(readFile(closed.file("_cell.csv")), readFile(usual.file("_cell.csv")));
    EXPECT_EQ(splitLines(readFile(closed.file("_average.csv"))).size(), 2u + 3u);
    EXPECT_EQ(readFile(closed.file("_average.csv")).find("---"), std::string::npos);
}

TEST(Surroundings, SighupEndsTheRunOnAWholeFrameWithStatus129) {
    TempDir dir;
    ChildSetup setup;
    setup.actionAfterFrames = 3;
    setup.action = [](pid_t pid) { kill(pid, SIGHUP); };
    const auto out = runChild(with(seriesWords(dir, 100000), {"-output", dir.path(), "-tracks"}), setup);
    EXPECT_EQ(out.status, 129) << out.errors;
    const int frames = expectWholeFrames(dir);
    EXPECT_GE(frames, 3);
    EXPECT_EQ(splitLines(readFile(dir.file("_log.txt"))).back(),
              "--- Interrupted at frame " + std::to_string(frames + 1) + " by SIGHUP ---");
    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    EXPECT_EQ(record["ending"], "interrupted");
    EXPECT_EQ(record["exit_status"], 129);
    EXPECT_EQ(record["frames_analysed"], frames);
    EXPECT_EQ(splitLines(readFile(dir.file("_events.csv"))).size(), 1u + frames);
    EXPECT_TRUE(fs::exists(dir.file("_tracks.csv")));
}

TEST(Surroundings, AConsoleReaderThatGoesAwayDoesNotStopTheRun) {
    TempDir frames, out;
    // head reads one line and leaves: every later console line fails with EPIPE.
    const std::string line = shellLine(with(seriesWords(frames, 12, 12), {"-output", out.path(), "-tracks", "-ctc",
                                                                         out.file("ctc")}));
    EXPECT_EQ(shellStatus(line + " | head -1 >/dev/null; exit \\${PIPESTATUS[0]}"), 0);
    EXPECT_EQ(expectWholeFrames(out), 12);
    EXPECT_TRUE(fs::exists(out.file("_tracks.csv")));
    EXPECT_TRUE(fs::exists(out.file("ctc/res_track.txt")));
    EXPECT_EQ(nlohmann::json::parse(readFile(out.file("_run.json")))["ending"], "finished");
}

// The record is rewritten after every frame: a run killed outright still tells how far it got.
TEST(Surroundings, AKilledRunLeavesARecordOfTheFramesDone) {
    TempDir dir;
    ChildSetup setup;
    setup.actionAfterFrames = 4;
    setup.action = [](pid_t pid) { kill(pid, SIGKILL); };
    const auto out = runChild(with(seriesWords(dir, 100000), {"-output", dir.path(), "-image"}), setup);
    EXPECT_EQ(out.status, 128 + SIGKILL);
    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    EXPECT_EQ(record["ending"], "running");
    EXPECT_TRUE(record["exit_status"].is_null());
    const int done = record["frames_analysed"];
    EXPECT_GE(done, 4);
    EXPECT_LE(done, static_cast<int>(splitLines(readFile(dir.file("_average.csv"))).size()) - 2);
    // The frame under way is listed too, so that a new run removes a bitmap it may have begun.
    ASSERT_EQ(record["frame_files"].size(), 1u);
    EXPECT_EQ(record["frame_files"][0]["last"], done + 1);
    EXPECT_TRUE(fs::exists(dir.file("_run.json")) && !fs::exists(dir.file("_run.json.tmp")));
}

// Bright cells on a dark ground, analysed as dark cells: the first frames hold no cell, and
// standard error says once what may be wrong; the console and the log stay as they are.
TEST(Surroundings, FirstFramesWithoutCellsGetOneHint) {
    TempDir frames, out, inverted;
    SeriesParams params;
    params.width = 96;
    params.height = 64;
    params.cellCount = 5;
    std::vector<uint8_t> gray(96 * 64);
    for (int j = 1; j <= 5; ++j) {
        renderSyntheticFrame(params, j, gray.data());
        for (uint8_t& g : gray) g = static_cast<uint8_t>(255 - g);
        writeGrayPng(frames.file("b_" + std::to_string(j) + ".png").c_str(), 96, 64, gray.data());
    }
    const std::vector<std::string> words = {"-source", frames.path() + "/b_%d.png", "-w", "96", "-h", "64",
                                            "-count", "5", "-threshold", "20", "-size", "5"};
    const auto dark = runProgram(with(words, {"-output", out.path()}));
    EXPECT_EQ(dark.status, 0);
    EXPECT_EQ(dark.errors,
              "vanto: warning: no cell in frames 1 to 3: cells are taken to be darker than their surroundings (dark "
              "cells on a bright background); for bright cells on a dark background (fluorescent nuclei) give "
              "-invert, and for faint cells a -threshold below 20\n");
    EXPECT_EQ(dark.console.find("no cell"), std::string::npos);
    EXPECT_EQ(readFile(out.file("_log.txt")).find("no cell"), std::string::npos);
    const auto bright = runProgram(with(words, {"-output", inverted.path(), "-invert"}));
    EXPECT_EQ(bright.status, 0);
    EXPECT_EQ(bright.errors, "") << "a run that finds cells gets no hint";
    // A shorter run is judged on the frames it has.
    const auto single = runProgram(with(words, {"-output", out.path(), "-count", "1"}));
    EXPECT_NE(single.errors.find("warning: no cell in frame 1: "), std::string::npos) << single.errors;
}

}  // namespace
}  // namespace vanto
