// What a run without -count or without -w and -h does.
#include <gtest/gtest.h>

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

// A window left empty is refused with the size of frame 1, so the user sees what to give.
TEST(RunDefaults, AnEmptyWindowIsRefusedNamingTheImageSize) {
    TempDir frames, out;
    std::vector<std::string> words = with(seriesWords(frames, 2), {"-output", out.path()});
    words.erase(words.begin() + 2, words.begin() + 6);  // "-w", "96", "-h", "64"
    const auto refused = runProgram(words);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.errors,
              "vanto: the frame size 0 x 0 is empty: give -w and -h of at least 1 (frame 1 is 96 x 64)\n");
}

}  // namespace
}  // namespace vanto
