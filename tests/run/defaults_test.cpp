// What a run without -count or without -w and -h does.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::seriesWords;
using testing::splitLines;
using testing::TempDir;
using testing::with;

// Without -count every consecutive frame file from frame 1 (-first) on is analysed, up to the
// first gap; the record gives the count the run used.
TEST(RunDefaults, WithoutCountEveryConsecutiveFrameIsAnalysed) {
    TempDir frames, out, shifted;
    std::vector<std::string> words = with(seriesWords(frames, 7, 4), {"-output", out.path()});  // 1-4, 7
    words.erase(words.begin() + 6, words.begin() + 8);                                          // "-count", "7"
    const auto run = runProgram(words);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(splitLines(readFile(out.file("_average.csv"))).size(), 2u + 4u);
    EXPECT_NE(readFile(out.file("_run.json")).find("\"-count\": 4"), std::string::npos);
    const auto fromTwo = runProgram(with(words, {"-first", "2", "-output", shifted.path()}));
    EXPECT_EQ(fromTwo.status, 0) << fromTwo.errors;
    EXPECT_EQ(splitLines(readFile(shifted.file("_average.csv"))).size(), 2u + 3u);
}

// Without -w or -h the window runs from -x / -y to the image's edge; the log and the record
// say which window was analysed. A window given in full is taken as it is.
TEST(RunDefaults, WithoutWidthOrHeightTheWindowRunsToTheImageEdge) {
    TempDir frames, whole, shifted, narrow;
    std::vector<std::string> words = seriesWords(frames, 2);  // 96 x 64 frames
    words.erase(words.begin() + 2, words.begin() + 6);        // "-w", "96", "-h", "64"
    const auto windowOf = [](const TempDir& out) {
        return nlohmann::json::parse(readFile(out.file("_run.json")))["window"];
    };
    const auto all = runProgram(with(words, {"-output", whole.path()}));
    EXPECT_EQ(all.status, 0) << all.errors;
    EXPECT_EQ(splitLines(readFile(whole.file("_log.txt")))[1], "Size : 96 x 64 (0, 0)");
    EXPECT_EQ(windowOf(whole), nlohmann::json::parse(R"({"x": 0, "y": 0, "width": 96, "height": 64})"));

    const auto corner = runProgram(with(words, {"-x", "10", "-y", "4", "-output", shifted.path()}));
    EXPECT_EQ(corner.status, 0) << corner.errors;
    EXPECT_EQ(splitLines(readFile(shifted.file("_log.txt")))[1], "Size : 86 x 60 (10, 4)");
    EXPECT_EQ(windowOf(shifted), nlohmann::json::parse(R"({"x": 10, "y": 4, "width": 86, "height": 60})"));

    // Only -h left out: the width given stays.
    const auto strip = runProgram(with(words, {"-w", "40", "-y", "14", "-output", narrow.path()}));
    EXPECT_EQ(strip.status, 0) << strip.errors;
    EXPECT_EQ(splitLines(readFile(narrow.file("_log.txt")))[1], "Size : 40 x 50 (0, 14)");
}

// A window that is empty as given, or whose origin lies beyond the image, is refused with the
// size of frame 1, so the user sees what to give.
TEST(RunDefaults, AnEmptyWindowIsRefusedNamingTheImageSize) {
    TempDir frames, out;
    std::vector<std::string> words = with(seriesWords(frames, 2), {"-output", out.path()});
    words[3] = "0";  // -w 0
    words[5] = "0";  // -h 0
    const auto refused = runProgram(words);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.errors,
              "vanto: the frame size 0 x 0 is empty: give -w and -h of at least 1 (frame 1 is 96 x 64)\n");
    words.erase(words.begin() + 2, words.begin() + 4);  // "-w", "0": to the edge, from beyond it
    const auto beyond = runProgram(with(words, {"-x", "200"}));
    EXPECT_EQ(beyond.status, 1);
    EXPECT_EQ(beyond.errors,
              "vanto: the frame size 0 x 0 is empty: give -w and -h of at least 1 (frame 1 is 96 x 64)\n");
}

}  // namespace
}  // namespace vanto
