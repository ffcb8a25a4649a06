#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/frame_series.h"
#include "driver/option_table.h"
#include "driver/run_checks.h"
#include "driver/version.h"
#include "frame_files.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::parseWords;
using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;

// Each option of the table, given a value of its kind, sets its own field and no other
// option's; the field keeps its default without the option.
TEST(OptionTable, EveryOptionIsParsedThroughItsKind) {
    for (const OptionEntry& option : optionTable()) {
        SCOPED_TRACE(option.word);
        std::vector<std::string> words = {option.word};
        switch (option.kind) {
            case OptionKind::flag: break;
            case OptionKind::integer: words.push_back("-123"); break;
            case OptionKind::real: words.push_back("2.5e1"); break;
            case OptionKind::pair: words.insert(words.end(), {"-1.5", "7"}); break;
            case OptionKind::text: words.push_back("dir^1"); break;
            case OptionKind::integers: words.insert(words.end(), {"-123", option.word, "4"}); break;
        }
        const ParsedCommandLine parsed = parseWords(words);
        EXPECT_TRUE(parsed.warnings.empty() && parsed.errors.empty());
        const RunConfig& c = parsed.config;
        const RunConfig plain = parseWords({}).config;
        switch (option.kind) {
            case OptionKind::flag:
                EXPECT_TRUE(c.*option.flag);
                EXPECT_FALSE(plain.*option.flag);
                break;
            case OptionKind::integer:
                EXPECT_EQ(c.*option.integer, -123);
                EXPECT_NE(plain.*option.integer, -123);
                break;
            case OptionKind::real: EXPECT_EQ(c.*option.real, 25.0); break;
            case OptionKind::pair:
                EXPECT_TRUE(c.*option.given && !(plain.*option.given));
                EXPECT_EQ(c.*option.real, -1.5);
                EXPECT_EQ(c.*option.high, 7.0);
                break;
            case OptionKind::text: EXPECT_EQ(c.*option.text, option.carets ? "dir%1" : "dir^1"); break;
            case OptionKind::integers:
                EXPECT_EQ(c.*option.list, std::vector<int32_t>({-123, 4}));
                EXPECT_TRUE((plain.*option.list).empty());
                break;
        }
        if (option.given && option.kind != OptionKind::pair) {
            EXPECT_TRUE(c.*option.given);
        }
        // Nothing else moved: the record of the parse differs from the plain one in this option only.
        nlohmann::ordered_json changed = recordedOptions(c), before = recordedOptions(plain);
        if (option.record) {
            changed.erase(option.record);
            before.erase(option.record);
        }
        if (option.kind == OptionKind::flag && !option.record) {
            EXPECT_TRUE(c.showHelp || c.showVersion);  // the answers alone are not recorded
        }
        EXPECT_EQ(changed, before);
    }
}

TEST(OptionTable, ValuesThatCannotBeReadLeaveTheOptionAsItWas) {
    const ParsedCommandLine overflow = parseWords({"-w", "64", "-w", "99999999999", "-threads", "-2147483649"});
    EXPECT_EQ(overflow.config.frameWidth, 64);
    EXPECT_EQ(overflow.config.threads, 0);
    ASSERT_EQ(overflow.errors.size(), 2u);
    EXPECT_EQ(overflow.errors[0], "-w \"99999999999\" does not fit a 32-bit signed integer (-2147483648 to 2147483647)");

    const ParsedCommandLine range = parseWords({"-range", "0", "100", "-range", "9", "9", "-range", "x", "1"});
    EXPECT_EQ(range.errors, std::vector<std::string>({"-range \"9\" \"9\" must have LO below HI",
                                                      "-range \"x\" \"1\" must be two finite numbers LO HI"}));
    EXPECT_TRUE(range.config.hasRange);
    EXPECT_EQ(range.config.rangeHigh, 100.0);
    EXPECT_FALSE(parseWords({"-range", "1", "x"}).config.hasRange);

    const ParsedCommandLine odd = parseWords({"-count", "4x", "-pixel-size", "0.5um"});
    EXPECT_EQ(odd.warnings, std::vector<std::string>({"-count \"4x\" is not a number; read as 4"}));
    EXPECT_TRUE(odd.config.hasCount);
    EXPECT_TRUE(std::isnan(odd.config.pixelSize));  // refused by the checks, not by the parse
    EXPECT_TRUE(odd.errors.empty());
}

// The option checks report every refusal at once, in table order, the relation of two
// options last; each value at its bound is allowed.
TEST(OptionTable, TheChecksReturnEveryRefusalAtOnce) {
    RunConfig c;
    EXPECT_TRUE(optionRefusals(c).empty());
    c.firstFrame = 0;
    c.channel = 0;
    c.pixelSize = 0;
    EXPECT_TRUE(optionRefusals(c).empty());
    c.firstFrame = 2;
    c.frameCount = INT32_MAX;
    c.channel = -1;
    c.pixelSize = -0.5;
    c.frameInterval = std::numeric_limits<double>::infinity();
    EXPECT_EQ(optionRefusals(c), std::vector<std::string>({
                                     "-channel must be 1 or more",
                                     "-pixel-size must be a positive number of micrometres per pixel",
                                     "-frame-interval must be a positive number of minutes",
                                     "-first plus -count goes beyond frame number 2147483647",
                                 }));
    c.frameCount = 0;
    c.firstFrame = -1;
    c.pixelSize = std::nan("");
    EXPECT_EQ(optionRefusals(c).size(), 4u);
    EXPECT_EQ(optionRefusals(c)[0], "-first must be 0 or more");
    // Lone bright parts are made cells only by the halo join.
    c = RunConfig{};
    c.haloCells = 20;
    EXPECT_EQ(optionRefusals(c), std::vector<std::string>({"-halo-cells makes cells of bright parts: give -halo too"}));
    c.halo = 25;
    EXPECT_TRUE(optionRefusals(c).empty());
}

// The whole pass: the errors of the command line first, then every check's refusal; checks
// that depend on a refused one are left out, and nothing is created on the disk.
TEST(OptionTable, TheRunChecksGatherTheirRefusalsInOnePass) {
    TempDir dir;
    RunConfig c;
    c.outputDir = "";
    c.sourcePattern = dir.file("f_%d_%d.png");
    c.frameCount = 2;
    c.frameWidth = 0;
    c.frameHeight = 5;
    c.channel = 2;
    c.drawCalculation = true;
    c.ctcDir = dir.file("ctc");
    FrameSeries series;
    const RunCheck check = checkRun(c, MemoryBound{}, series, {"an error of the words"}, {});
    EXPECT_EQ(check.refusals, std::vector<std::string>({
                                  "an error of the words",
                                  "-output is empty: give the folder for the log and the reports",
                                  "-channel applies to a multi-page TIFF stack only",
                              }));
    EXPECT_FALSE(std::filesystem::exists(c.ctcDir));

    c.channel = 0;
    c.outputDir = std::string(495, 'o');  // its report paths fit, its bitmap paths do not
    c.frameCount = INT32_MAX;
    c.firstFrame = 5;
    const RunCheck frames = checkRun(c, MemoryBound{1, "a test bound"}, series, {}, {});
    ASSERT_EQ(frames.refusals.size(), 5u);
    EXPECT_EQ(frames.refusals[0], "-first plus -count goes beyond frame number 2147483647");
    EXPECT_NE(frames.refusals[1].find("MiB of a test bound"), std::string::npos) << frames.refusals[1];
    EXPECT_EQ(frames.refusals[2], "the frame size 0 x 5 is empty: give -w and -h of at least 1");
    EXPECT_EQ(frames.refusals[3].rfind("-source \"", 0), 0u);
    EXPECT_EQ(frames.refusals[4], "calculation bitmap paths do not fit in 511 characters");
    EXPECT_EQ(frames.plan.frameCount, INT32_MAX);
    EXPECT_FALSE(std::filesystem::exists(c.ctcDir));
}

TEST(OptionTable, TheProgramPrintsEveryRefusalWithItsStatus) {
    TempDir dir;
    const std::string ctc = dir.file("ctc");
    const auto out = runProgram({"-count", "99999999999", "-first", "-1", "-output", "", "-ctc", ctc, "-Image"});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.console, "");
    EXPECT_EQ(out.errors,
              "vanto: -count \"99999999999\" does not fit a 32-bit signed integer (-2147483648 to 2147483647)\n"
              "vanto: unknown option \"-Image\": did you mean -image? (-help lists every option)\n"
              "vanto: -first must be 0 or more\n"
              "vanto: -output is empty: give the folder for the log and the reports\n");
    EXPECT_FALSE(std::filesystem::exists(ctc));
    // -help answers whatever else is wrong.
    EXPECT_EQ(runProgram({"-first", "-1", "-help"}).status, 0);
}

// Every option of the table has its line in the usage text, in table order; one without a
// line of its own is named on another's.
TEST(OptionTable, TheUsageTextListsEveryOption) {
    const std::vector<std::string> lines = splitLines(usageText());
    size_t next = 1;
    for (const OptionEntry& option : optionTable()) {
        SCOPED_TRACE(option.word);
        if (!option.help) {
            EXPECT_NE(usageText().find(std::string("also ") + option.word), std::string::npos);
            continue;
        }
        ASSERT_LT(next, lines.size());
        const std::string head = std::string("  ") + option.word + " ";
        EXPECT_EQ(lines[next].rfind(head, 0), 0u) << lines[next];
        EXPECT_NE(lines[next].find(option.help), std::string::npos);
        ++next;
    }
    EXPECT_EQ(next, lines.size());
    EXPECT_EQ(lines[0].rfind("usage: vanto ", 0), 0u);
    EXPECT_EQ(versionText(), std::string("vanto ") + kVersion + " (" + kVersionDate + ")\n");
}

// The record names every recorded option once; a stack read whole records the frames the run
// analyses, which the checks resolve without touching the configuration.
TEST(OptionTable, TheRecordListsTheOptionsWithTheValuesTheRunUses) {
    std::set<std::string> recorded;
    for (const OptionEntry& option : optionTable()) {
        if (option.record) {
            EXPECT_TRUE(recorded.insert(option.record).second) << option.record;
        }
    }
    const nlohmann::ordered_json options = recordedOptions(RunConfig{});
    EXPECT_EQ(options.size(), recorded.size());
    EXPECT_TRUE(options["-range"].is_null());
    EXPECT_EQ(options["-first"], 1);

    TempDir stacks, out;
    std::vector<testing::TiffPage> pages(4, testing::grayPage(8, 6));
    for (auto& page : pages) page.data.assign(8 * 6, 200);
    ASSERT_TRUE(testing::writeTiffPages(stacks.file("stack.tif"), pages));
    RunConfig c;
    c.sourcePattern = stacks.file("stack.tif");
    c.firstFrame = 2;
    FrameSeries series;
    EXPECT_EQ(series.resolve(c).frameCount, 3);
    EXPECT_EQ(series.plan().frameCount, 3);
    const auto run = runProgram({"-source", c.sourcePattern, "-first", "2", "-w", "8", "-h", "6", "-output",
                                 out.path(), "-threads", "1"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    EXPECT_EQ(record["options"]["-count"], 3);
    EXPECT_EQ(record["frames_analysed"], 3);
    EXPECT_EQ(record["version"], kVersion);
}

}  // namespace
}  // namespace vanto
