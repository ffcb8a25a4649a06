// Slips on the command line: an option word that names no option, a value option without its
// value, a missing -threshold and stray words, as the whole program answers them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_run.h"
#include "driver/command_line.h"
#include "driver/option_table.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::parseWords;
using testing::readFile;
using testing::runProgram;
using testing::seriesWords;
using testing::splitLines;
using testing::TempDir;
using testing::with;

// A misspelt option refuses the run before anything is written, naming the option meant;
// every slip is told at once and the run writes nothing.
TEST(CommandLineTypos, AMisspeltOptionIsRefusedWithTheNearestOption) {
    TempDir frames, out;
    const auto words = with(seriesWords(frames, 3), {"-output", out.path()});
    std::vector<std::string> typo = words;
    typo[8] = "-treshold";  // "-threshold", "20"
    const auto refused = runProgram(typo);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.console, "");
    EXPECT_NE(refused.errors.find("vanto: unknown option \"-treshold\": did you mean -threshold?"), std::string::npos)
        << refused.errors;
    testing::expectOnlyRefusalRecord(out);

    // Letter case and a doubled dash are slips too; a word far from every option names none.
    EXPECT_EQ(parseWords({"-Image"}).errors[0], "unknown option \"-Image\": did you mean -image? (-help lists every option)");
    EXPECT_NE(parseWords({"--threshold", "9"}).errors[0].find("did you mean -threshold?"), std::string::npos);
    EXPECT_NE(parseWords({"-thresold", "9"}).errors[0].find("did you mean -threshold?"), std::string::npos);
    EXPECT_NE(parseWords({"-pixelsize", "1"}).errors[0].find("did you mean -pixel-size?"), std::string::npos);
    EXPECT_EQ(parseWords({"-qqqqqqqqqq"}).errors[0], "unknown option \"-qqqqqqqqqq\" (-help lists every option)");
}

// A value option must be followed by its value: not by the end of the words, not by another
// option word (which is then read as the option it is).
TEST(CommandLineTypos, AValueOptionWithoutItsValueIsRefused) {
    const ParsedCommandLine last = parseWords({"-w", "64", "-threshold"});
    EXPECT_EQ(last.errors, std::vector<std::string>({"-threshold needs a value after it"}));
    EXPECT_FALSE(last.config.hasThreshold);

    const ParsedCommandLine swallowed = parseWords({"-threshold", "-size", "15", "-range", "10"});
    EXPECT_EQ(swallowed.errors, std::vector<std::string>({"-threshold needs a value, not the option -size",
                                                          "-range needs two values LO HI after it"}));
    EXPECT_EQ(swallowed.config.smallCellArea, 15);  // -size is read as an option
    EXPECT_EQ(swallowed.config.threshold, 0);
    EXPECT_FALSE(swallowed.config.hasRange);

    EXPECT_EQ(parseWords({"-range", "0", "-invert"}).errors,
              std::vector<std::string>({"-range needs two values LO HI, not the option -invert"}));
    // Negative numbers are values, not option words.
    const ParsedCommandLine negative = parseWords({"-x", "-5", "-range", "-1", "5", "-threshold", "3"});
    EXPECT_TRUE(negative.errors.empty());
    EXPECT_EQ(negative.config.originX, -5);
    EXPECT_EQ(negative.config.rangeLow, -1.0);

    TempDir frames, out;
    const auto refused = runProgram(with(seriesWords(frames, 3), {"-output", out.path(), "-count"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("vanto: -count needs a value after it\n"), std::string::npos) << refused.errors;
    EXPECT_FALSE(std::filesystem::exists(out.file("_log.txt")));
}

// Words the run can go on without are warnings, once each, and the run still finishes: a
// missing -threshold (0 is used) and a stray word that no option takes.
TEST(CommandLineTypos, AMissingThresholdAndStrayWordsAreWarnings) {
    TempDir frames, out;
    std::vector<std::string> words = seriesWords(frames, 3);
    words.erase(words.begin() + 8, words.begin() + 10);  // "-threshold", "20"
    const auto run = runProgram(with(words, {"-output", out.path(), "results", "-7"}));
    EXPECT_EQ(run.status, 0) << run.errors;
    const auto lines = splitLines(run.errors);
    ASSERT_GE(lines.size(), 3u) << run.errors;
    EXPECT_EQ(lines[0], "vanto: warning: stray word \"results\" ignored: it follows no option that takes it");
    EXPECT_EQ(lines[1], "vanto: warning: stray word \"-7\" ignored: it follows no option that takes it");
    EXPECT_EQ(lines[2], "vanto: warning: no -threshold given: threshold 0 is used");
    EXPECT_NE(readFile(out.file("_log.txt")).find("Threshold : 0\n"), std::string::npos);

    // A run that gives -threshold, even 0, is not warned; a refused run is not warned either.
    EXPECT_TRUE(absentOptionWarnings(parseWords({"-threshold", "0"}).config).empty());
    EXPECT_EQ(absentOptionWarnings(parseWords({"-threshold"}).config).size(), 1u);
    const auto refused = runProgram({"-output", ""});
    EXPECT_EQ(refused.errors, "vanto: -output is empty: give the folder for the log and the reports\n");
}

}  // namespace
}  // namespace vanto
