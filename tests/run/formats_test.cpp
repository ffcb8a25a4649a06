#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "shared_data.h"
#include "driver/command_line.h"
#include "frame_files.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::RunOutput;
using testing::splitFields;
using testing::splitLines;
using testing::TempDir;
using testing::TiffPage;

constexpr int32_t kW = 96, kH = 64, kFrames = 3;

// The reports of a run with the time field of the average report blanked.
std::string reportsOf(const TempDir& out) {
    std::string text = readFile(out.file("_cell.csv")) + "\n";
    for (const auto& line : splitLines(readFile(out.file("_average.csv")))) {
        auto f = splitFields(line);
        if (f.size() > 1 && !f[0].empty() && std::isdigit(static_cast<unsigned char>(f[0][0]))) f[1].clear();
        for (const auto& field : f) text += field + ",";
        text += "\n";
    }
    return text;
}

// Log lines without the times and with the frame files' folder dropped.
std::vector<std::string> logOf(const TempDir& out, const std::string& folder) {
    std::vector<std::string> lines;
    for (auto line : splitLines(readFile(out.file("_log.txt")))) {
        if (line.rfind("--- Analysis Finished in ", 0) == 0) line = "--- Analysis Finished";
        if (const size_t at = line.find(folder); at != std::string::npos) line.erase(at, folder.size());
        lines.push_back(line);
    }
    return lines;
}

class MicroscopeFrames : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        frames_ = new std::vector<std::vector<uint8_t>>(kFrames, std::vector<uint8_t>(kW * kH));
        SeriesParams params;
        params.width = kW;
        params.height = kH;
        params.cellCount = 6;
        for (int32_t j = 0; j < kFrames; ++j) renderSyntheticFrame(params, j + 1, (*frames_)[j].data());
    }
    static void TearDownTestSuite() { delete frames_; }

    // Writes frame j (1-based) through make(gray) into dir as name_<first + j - 1>.tif.
    template <typename T>
    void writeSeries(const TempDir& dir, uint16_t bits, uint16_t format, T (*make)(uint8_t), int32_t first = 1) {
        for (int32_t j = 0; j < kFrames; ++j) {
            std::vector<T> samples;
            for (uint8_t g : (*frames_)[j]) samples.push_back(make(g));
            TiffPage page = testing::grayPage(kW, kH, bits, format);
            page.data = testing::bytesOf(samples);
            ASSERT_TRUE(testing::writeTiffPages(dir.file("f_" + std::to_string(first + j) + ".tif"), {page}));
        }
    }

    static RunOutput analyse(const TempDir& frames, const TempDir& out, std::vector<std::string> more) {
        std::vector<std::string> words = {"-source", frames.path() + "/f_%d.tif", "-w", std::to_string(kW), "-h",
                                          std::to_string(kH), "-threshold", "20", "-size", "10", "-output",
                                          out.path(), "-image", "-voronoi"};
        if (std::find(more.begin(), more.end(), "-source") != more.end()) words.erase(words.begin(), words.begin() + 2);
        if (std::find(more.begin(), more.end(), "-count") == more.end())
            words.insert(words.end(), {"-count", std::to_string(kFrames)});
        words.insert(words.end(), more.begin(), more.end());
        return testing::runProgram(words);
    }

    static std::vector<std::vector<uint8_t>>* frames_;
};

std::vector<std::vector<uint8_t>>* MicroscopeFrames::frames_ = nullptr;

uint8_t same(uint8_t g) { return g; }
uint8_t inverted(uint8_t g) { return static_cast<uint8_t>(255 - g); }
uint16_t times257(uint8_t g) { return static_cast<uint16_t>(g * 257); }
uint16_t twelveBit(uint8_t g) { return static_cast<uint16_t>(100 + g * 15); }

TEST_F(MicroscopeFrames, SixteenBitSeriesWithTheMatchingRangeGiveTheEightBitResults) {
    TempDir eight, wide, offset, out8, outWide, outOffset;
    writeSeries<uint8_t>(eight, 8, SAMPLEFORMAT_UINT, same);
    writeSeries<uint16_t>(wide, 16, SAMPLEFORMAT_UINT, times257);
    writeSeries<uint16_t>(offset, 16, SAMPLEFORMAT_UINT, twelveBit, 0);  // numbered from 0
    const RunOutput a = analyse(eight, out8, {});
    ASSERT_EQ(a.status, 0) << a.errors;
    const RunOutput b = analyse(wide, outWide, {"-range", "0", "65535"});
    ASSERT_EQ(b.status, 0) << b.errors;
    const RunOutput c = analyse(offset, outOffset, {"-range", "100", "3925", "-first", "0"});
    ASSERT_EQ(c.status, 0) << c.errors;
    EXPECT_EQ(a.errors + b.errors + c.errors, "");

    const std::string reports = reportsOf(out8);
    EXPECT_GT(splitLines(readFile(out8.file("_cell.csv"))).size(), 3u);
    EXPECT_EQ(reportsOf(outWide), reports);
    EXPECT_EQ(reportsOf(outOffset), reports);
    for (const char* bmp : {"10_Calculation_0001.bmp", "10_Calculation_0003.bmp", "12_Voronoi_0003.bmp"}) {
        EXPECT_EQ(readFile(outWide.file(bmp)), readFile(out8.file(bmp))) << bmp;
        EXPECT_EQ(readFile(outOffset.file(bmp)), readFile(out8.file(bmp))) << bmp;
    }
    // The same log but for the mapping line after the threshold; -first names the files read.
    auto log8 = logOf(out8, eight.path());
    auto logWide = logOf(outWide, wide.path());
    auto logOffset = logOf(outOffset, offset.path());
    ASSERT_EQ(logWide.size(), log8.size() + 1);
    EXPECT_EQ(logWide[3], "Range : 0 - 65535 -> 0 - 255");
    EXPECT_EQ(logOffset[3], "Range : 100 - 3925 -> 0 - 255");
    logWide.erase(logWide.begin() + 3);
    EXPECT_EQ(logWide, log8);
    EXPECT_NE(std::find(logOffset.begin(), logOffset.end(), "--- /f_0.tif ---"), logOffset.end());
}

TEST_F(MicroscopeFrames, AStackAndAHyperstackChannelReadLikeTheNumberedSeries) {
    TempDir series, stacks, outSeries, outStack, outChannel, outRefused;
    writeSeries<uint8_t>(series, 8, SAMPLEFORMAT_UINT, same);
    std::vector<TiffPage> pages, hyper;
    for (int32_t j = 0; j < kFrames; ++j) {
        TiffPage page = testing::grayPage(kW, kH);
        page.data = (*frames_)[j];
        pages.push_back(page);
        TiffPage other = page;
        for (auto& g : other.data) g = inverted(g);
        hyper.insert(hyper.end(), {other, page});  // channel 1 then channel 2 of each time point
    }
    hyper[0].description = "ImageJ=1.54f\nimages=6\nchannels=2\nframes=3\nhyperstack=true\n";
    ASSERT_TRUE(testing::writeTiffPages(stacks.file("stack.tif"), pages));
    ASSERT_TRUE(testing::writeTiffPages(stacks.file("hyper.tif"), hyper));
    hyper[0].description = "ImageJ=1.54f\nimages=6\nslices=2\nframes=3\n";
    ASSERT_TRUE(testing::writeTiffPages(stacks.file("zstack.tif"), hyper));

    ASSERT_EQ(analyse(series, outSeries, {}).status, 0);
    const RunOutput stack = analyse(series, outStack, {"-source", stacks.file("stack.tif"), "-count", "3"});
    ASSERT_EQ(stack.status, 0) << stack.errors;
    EXPECT_EQ(reportsOf(outStack), reportsOf(outSeries));
    EXPECT_NE(stack.console.find("--- " + stacks.file("stack.tif") + " [page 3] ---"), std::string::npos);

    // No -count: every page; the channel picks every second page.
    const RunOutput channel = analyse(series, outChannel, {"-source", stacks.file("hyper.tif"), "-channel", "2"});
    ASSERT_EQ(channel.status, 0) << channel.errors;
    EXPECT_EQ(reportsOf(outChannel), reportsOf(outSeries));
    EXPECT_NE(channel.console.find("hyper.tif [page 6] ---"), std::string::npos);

    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"-source", stacks.file("hyper.tif")}, "-channel"},
        {{"-source", stacks.file("zstack.tif"), "-channel", "1"}, "z-slices"},
        {{"-source", stacks.file("stack.tif"), "-count", "4"}, "holds 3 pages"},
    };
    for (const auto& [words, expected] : refusals) {
        const RunOutput r = analyse(series, outRefused, words);
        EXPECT_EQ(r.status, 1) << expected;
        EXPECT_EQ(splitLines(r.errors).size(), 1u) << r.errors;
        EXPECT_NE(r.errors.find(expected), std::string::npos) << r.errors;
        EXPECT_EQ(r.console, "");
    }
}

TEST_F(MicroscopeFrames, InvertOnAnInvertedSeriesGivesTheOriginalReports) {
    TempDir original, negative, outOriginal, outInverted;
    writeSeries<uint8_t>(original, 8, SAMPLEFORMAT_UINT, same);
    writeSeries<uint8_t>(negative, 8, SAMPLEFORMAT_UINT, inverted);
    ASSERT_EQ(analyse(original, outOriginal, {}).status, 0);
    const RunOutput r = analyse(negative, outInverted, {"-invert"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(reportsOf(outInverted), reportsOf(outOriginal));
    // The bitmaps show the frame as given: bright where the original run's is dark.
    const std::string given = readFile(outInverted.file("12_Voronoi_0001.bmp"));
    const std::string plain = readFile(outOriginal.file("12_Voronoi_0001.bmp"));
    ASSERT_EQ(given.size(), plain.size());
    EXPECT_NE(given, plain);
}

// Real fluorescence: the bright nuclei with -invert against their inverted copy without it.
TEST(MicroscopeData, InvertedFluorescenceMatchesTheInvertedCopy) {
    const std::string folder = std::string(VANTO_SHARED_DATA) + "/mitocheck-nuclei";
    VANTO_NEED_SHARED_DATA(folder + "/nuclei_0001.png");
    TempDir bright, dark;
    const auto run = [&](const TempDir& out, const char* pattern, bool invert) {
        std::vector<std::string> words = {"-source", folder + "/" + pattern, "-w", "211", "-h", "190", "-count", "30",
                                          "-threshold", "15", "-size", "40", "-output", out.path()};
        if (invert) words.push_back("-invert");
        return testing::runProgram(words);
    };
    ASSERT_EQ(run(bright, "nuclei_%04d.png", true).status, 0);
    ASSERT_EQ(run(dark, "inv_%04d.png", false).status, 0);
    EXPECT_GT(splitLines(readFile(dark.file("_cell.csv"))).size(), 100u);
    EXPECT_EQ(reportsOf(bright), reportsOf(dark));
}

TEST_F(MicroscopeFrames, FrameOneThatCannotBeAnalysedIsRefusedALaterOneIsALoadError) {
    TempDir dir, out;
    writeSeries<uint16_t>(dir, 16, SAMPLEFORMAT_UINT, twelveBit);
    const RunOutput refused = analyse(dir, out, {});
    EXPECT_EQ(refused.status, 1);
    ASSERT_EQ(splitLines(refused.errors).size(), 1u) << refused.errors;
    for (const char* words : {"f_1.tif", "16-bit", "96 x 64", "minimum", "maximum", "-range "})
        EXPECT_NE(refused.errors.find(words), std::string::npos) << words << " in " << refused.errors;
    EXPECT_EQ(refused.console, "");
    EXPECT_FALSE(std::filesystem::exists(out.file("_log.txt")));

    // Frame 1 readable, frame 2 of a kind that needs a range, frame 4 missing: status 2.
    TempDir mixed, out2, out3;
    writeSeries<uint8_t>(mixed, 8, SAMPLEFORMAT_UINT, same);
    std::filesystem::copy_file(dir.file("f_2.tif"), mixed.file("f_2.tif"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(mixed.file("f_1.tif"), mixed.file("f_5.tif"));
    const RunOutput later = analyse(mixed, out2, {"-count", "5"});
    ASSERT_EQ(later.status, 2) << later.errors;
    EXPECT_NE(later.console.find("Image Load Error"), std::string::npos);
    const auto errors = splitLines(later.errors);
    ASSERT_EQ(errors.size(), 3u) << later.errors;
    EXPECT_NE(errors[0].find(mixed.file("f_2.tif")), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("no such file"), std::string::npos) << errors[1];
    EXPECT_EQ(errors[2], "vanto: 2 of 5 frames could not be read: 2, 4");
    EXPECT_EQ(readFile(out2.file("_log.txt")).find("Image Load Error"), std::string::npos);

    const RunOutput strict = analyse(mixed, out3, {"-count", "5", "-strict"});
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.console.find("f_3.tif"), std::string::npos);
}

// Crafted frames that declare gigabytes sit inside a normal series; the program runs in a child
// under a 2 GB address-space limit and must name each and analyse the frames after them.
TEST_F(MicroscopeFrames, BombFramesInsideASeriesAreLoadErrorsWithinTwoGigabytes) {
    TempDir dir, out;
    writeSeries<uint8_t>(dir, 8, SAMPLEFORMAT_UINT, same);
    std::filesystem::rename(dir.file("f_2.tif"), dir.file("f_6.tif"));
    testing::writeBytes(dir.file("f_2.tif"), testing::declaredTiff(100000, 100000, 100000, 0));
    testing::writeBytes(dir.file("f_3.tif"), testing::declaredTiff(65536, 65536, 0, 65536));
    testing::writeBytes(dir.file("f_4.tif"), testing::declaredInterlacedPng(1000000, 1000000));
    testing::writeBytes(dir.file("f_5.tif"), testing::declaredTiff(4000000000u, 1, 1, 0));
    const std::string errorsPath = out.file("stderr.txt");
    std::vector<std::string> words = {VANTO_EXE, "-source", dir.path() + "/f_%d.tif", "-w", std::to_string(kW),
                                      "-h", std::to_string(kH), "-count", "6", "-threshold", "20",
                                      "-output", out.path()};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{2ull << 30, 2ull << 30};
        if ((testing::kAddressSpaceLimitWorks && setrlimit(RLIMIT_AS, &limit) != 0) || !freopen(errorsPath.c_str(), "w", stderr) ||
            !freopen("/dev/null", "w", stdout))
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 2);  // finished, with unreadable frames
    const auto errors = splitLines(readFile(errorsPath));
    ASSERT_EQ(errors.size(), 5u) << readFile(errorsPath);
    for (int i = 0; i < 3; ++i) EXPECT_NE(errors[i].find("decoding cap"), std::string::npos) << errors[i];
    EXPECT_EQ(errors[4], "vanto: 4 of 6 frames could not be read: 2-5");
    EXPECT_EQ(splitLines(readFile(out.file("_average.csv"))).size(), 2u + 6u);
    const auto rows = splitLines(readFile(out.file("_cell.csv")));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& row) { return row.rfind("6,", 0) == 0; }));
}

TEST(CommandLineLimits, OutOfRangeNumbersAreErrorsOddWordsWarnings) {
    std::vector<std::string> words = {"vanto", "-count", "2147483648", "-w", "-2147483649", "-h", "2147483647",
                                      "--threshold", "9", "-size", "12abc", "-Size", "-x", "abc"};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    const RunConfig& c = parsed.config;
    ASSERT_EQ(parsed.errors.size(), 4u);
    EXPECT_EQ(parsed.errors[0].rfind("-count", 0), 0u);
    EXPECT_EQ(parsed.errors[1].rfind("-w", 0), 0u);
    EXPECT_NE(parsed.errors[2].find("--threshold"), std::string::npos);  // unknown option words
    EXPECT_NE(parsed.errors[3].find("-Size"), std::string::npos);
    EXPECT_EQ(c.frameHeight, 2147483647);
    EXPECT_EQ(c.smallCellArea, 12);  // atoi reading kept
    EXPECT_EQ(c.originX, 0);
    ASSERT_EQ(parsed.warnings.size(), 3u);
    for (const char* named : {"\"9\"", "12abc", "abc"}) {
        EXPECT_TRUE(std::any_of(parsed.warnings.begin(), parsed.warnings.end(),
                                [&](const std::string& w) { return w.find(named) != std::string::npos; }))
            << named;
    }

    TempDir dir;
    const RunOutput refused = testing::runProgram({"-count", "2147483648", "-output", dir.path()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(splitLines(refused.errors).size(), 1u);
    EXPECT_EQ(refused.console, "");
    const RunOutput warned = testing::runProgram({"-count", "0", "-output", dir.path(), "-threshold", "1", "x"});
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.errors, "vanto: warning: stray word \"x\" ignored: it follows no option that takes it\n");

    const RunOutput help = testing::runProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"-source", "-range", "-invert", "-first", "-channel", "-strict", "-voronoi"})
        EXPECT_NE(help.console.find(std::string("\n  ") + option + " "), std::string::npos) << option;
    EXPECT_EQ(testing::runProgram({}).status, 1);
    EXPECT_EQ(testing::runProgram({"--version"}).console, versionText());
}

}  // namespace
}  // namespace vanto
