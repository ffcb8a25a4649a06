// The series against the disk: a -count beyond its last frame and a missing frame 1 are
// refused before anything is written; a gap inside it is analysed as before and ends the run
// with status 2; a series of which nothing can be read ends it with status 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProgram;
using testing::seriesWords;
using testing::splitLines;
using testing::TempDir;
using testing::with;

// The largest frame number a pattern can name is a frame like any other (found by fuzzing: its
// path was formatted through an overflowing sum).
TEST(SeriesOnDisk, AFirstFrameAtTheLargestNumberIsAnalysed) {
    TempDir frames;
    std::vector<std::string> words = seriesWords(frames, 1);
    std::filesystem::copy_file(frames.file("f_1.png"), frames.file("f_2147483647.png"));
    words.insert(words.end(), {"-first", "2147483647"});
    for (const bool count : {true, false}) {
        TempDir out;
        std::vector<std::string> run = words;
        if (!count) run.erase(run.begin() + 6, run.begin() + 8);  // -count 1
        const auto result = runProgram(with(run, {"-output", out.path()}));
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(splitLines(readFile(out.file("_average.csv"))).size(), 3u) << "one frame: two header lines and its row";
    }
}

TEST(SeriesOnDisk, ACountBeyondTheLastFrameIsRefusedNamingTheLastFrameFound) {
    TempDir frames, out;
    std::vector<std::string> words = with(seriesWords(frames, 3), {"-output", out.path()});
    words[7] = "5";  // -count 5 over frames 1 to 3
    const auto refused = runProgram(words);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.console, "");
    EXPECT_EQ(refused.errors, "vanto: -count 5: frame 5 (" + frames.file("f_5.png") + ") does not exist; the frames of \"" +
                                  frames.path() + "/f_%d.png\" run from frame 1 (" + frames.file("f_1.png") +
                                  ") to frame 3 (" + frames.file("f_3.png") + "): give -count 3 or leave -count out\n");
    testing::expectOnlyRefusalRecord(out);

    // -first shifts the file numbers: files 2 and 3 are frames 1 and 2, frame 3 would be file 4.
    words[7] = "3";
    const auto shifted = runProgram(with(words, {"-first", "2"}));
    EXPECT_EQ(shifted.status, 1);
    EXPECT_NE(shifted.errors.find("-count 3: frame 3 (" + frames.file("f_4.png") + ") does not exist"),
              std::string::npos)
        << shifted.errors;
}

TEST(SeriesOnDisk, AMissingFrameOneIsRefusedWithTheFilesNearest) {
    TempDir frames, out;
    const std::vector<uint8_t> gray(8 * 6, 128);
    for (const char* name : {"t_0000.png", "t_0001.png"}) writeGrayPng(frames.file(name).c_str(), 8, 6, gray.data());
    const std::vector<std::string> words = {"-w", "8", "-h", "6", "-threshold", "5", "-output", out.path()};
    // A zero-based series read from 1: frame 2 (file 2) is missing, file 0 exists.
    const auto zero = runProgram(with(words, {"-source", frames.path() + "/t_%04d.png", "-first", "2"}));
    EXPECT_EQ(zero.status, 1);
    EXPECT_NE(zero.errors.find("no frame 1: \"" + frames.file("t_0002.png") + "\" does not exist"), std::string::npos)
        << zero.errors;
    EXPECT_NE(zero.errors.find("\"" + frames.file("t_0000.png") + "\" exists: give -first 0"), std::string::npos);

    // A mistyped name: the nearest names of the folder; a mistyped folder: the folder.
    const auto typo = runProgram(with(words, {"-source", frames.path() + "/t%04d.png"}));
    EXPECT_EQ(typo.status, 1);
    EXPECT_NE(typo.errors.find("; nearest files there: t_0000.png, t_0001.png\n"), std::string::npos) << typo.errors;
    const auto folder = runProgram(with(words, {"-source", frames.path() + "/nowhere/t_%04d.png"}));
    EXPECT_NE(folder.errors.find("the folder \"" + frames.path() + "/nowhere\" does not exist"), std::string::npos)
        << folder.errors;
    testing::expectOnlyRefusalRecord(out);
    // The series as it is runs.
    EXPECT_EQ(runProgram(with(words, {"-source", frames.path() + "/t_%04d.png", "-first", "0"})).status, 0);
}

TEST(SeriesOnDisk, AGapEndsTheRunWithStatus2AndNothingReadableWithStatus1) {
    TempDir frames, out;
    const auto gap = runProgram(with(seriesWords(frames, 6, 3), {"-output", out.path()}));  // 4, 5 missing
    EXPECT_EQ(gap.status, 2) << gap.errors;
    EXPECT_EQ(splitLines(gap.errors).back(), "vanto: 2 of 6 frames could not be read: 4-5");
    EXPECT_EQ(splitLines(readFile(out.file("_average.csv"))).size(), 2u + 6u);
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    EXPECT_EQ(record["ending"], "finished");
    EXPECT_EQ(record["exit_status"], 2);
    EXPECT_EQ(record["unreadable_frames"].size(), 2u);

    TempDir broken, out2;
    for (const char* name : {"b_1.png", "b_2.png"}) std::ofstream(broken.file(name)) << "not an image";
    const auto none = runProgram({"-source", broken.path() + "/b_%d.png", "-w", "8", "-h", "6", "-count", "2",
                                  "-threshold", "5", "-output", out2.path()});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(splitLines(none.errors).back(), "vanto: 2 of 2 frames could not be read: 1-2");
    EXPECT_NE(none.errors.find("vanto: none of the 2 frames could be read\n"), std::string::npos) << none.errors;
    const auto failed = nlohmann::json::parse(readFile(out2.file("_run.json")));
    EXPECT_EQ(failed["ending"], "failed");
    EXPECT_EQ(failed["exit_status"], 1);
}

}  // namespace
}  // namespace vanto
