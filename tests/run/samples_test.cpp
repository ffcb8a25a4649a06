// Float frames with NaN samples, and -range values that cannot scale the samples or that clip
// nearly every sample of frame 1.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_run.h"
#include "frame_files.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;
using testing::with;

constexpr uint32_t kWidth = 96, kHeight = 64;

// Generated frames 1 .. count as 32-bit float TIFF, ten units a gray level; pixels[j] lists
// pixels of frame j + 1 that hold `value` instead.
void writeFloatSeries(const TempDir& dir, const std::string& name, int count,
                      const std::vector<std::vector<size_t>>& pixels, float value, bool invert = false) {
    SeriesParams params;
    params.width = kWidth;
    params.height = kHeight;
    params.cellCount = 5;
    std::vector<uint8_t> gray(kWidth * kHeight);
    for (int j = 1; j <= count; ++j) {
        renderSyntheticFrame(params, j, gray.data());
        std::vector<float> samples(gray.size());
        for (size_t i = 0; i < gray.size(); ++i) samples[i] = 10.0f * (invert ? 255 - gray[i] : gray[i]);
        if (static_cast<size_t>(j - 1) < pixels.size())
            for (size_t i : pixels[j - 1]) samples[i] = value;
        testing::TiffPage page = testing::grayPage(kWidth, kHeight, 32, SAMPLEFORMAT_IEEEFP);
        page.data = testing::bytesOf(samples);
        ASSERT_TRUE(testing::writeTiffPages(dir.file(name + "_" + std::to_string(j) + ".tif"), {page}));
    }
}

std::vector<std::string> floatWords(const TempDir& dir, const std::string& name, const TempDir& out) {
    return {"-source", dir.path() + "/" + name + "_%d.tif", "-w", std::to_string(kWidth), "-h",
            std::to_string(kHeight), "-count", "3", "-threshold", "20", "-size", "5", "-range", "0", "2550",
            "-output", out.path()};
}

// The average report without its time column.
std::string averageWithoutTimes(const TempDir& out) {
    std::string kept;
    for (const std::string& line : splitLines(readFile(out.file("_average.csv")))) {
        const size_t first = line.find(',');
        const size_t second = first == std::string::npos ? first : line.find(',', first + 1);
        kept += (second == std::string::npos ? line : line.substr(0, first + 1) + line.substr(second)) + "\n";
    }
    return kept;
}

// NaN samples are background: a frame with NaN in its background is analysed exactly as the
// frame with the brightest level there (the darkest with -invert, whose view turns it bright),
// and every frame that held any says how many, on standard error and in the record.
TEST(NanSamples, TakeTheBackgroundsSideAndAreCountedPerFrame) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Scattered over the frame: wherever they fall, they must not become cells.
    std::vector<std::vector<size_t>> holes(3);
    for (size_t i = 7; i < kWidth * kHeight; i += 331) holes[0].push_back(i);
    for (size_t i = 100; i < kWidth * kHeight; i += 977) holes[2].push_back(i);
    for (const bool invert : {false, true}) {
        TempDir frames, withNan, reference;
        writeFloatSeries(frames, "nan", 3, holes, nan, invert);
        writeFloatSeries(frames, "ref", 3, holes, invert ? 0.0f : 2550.0f, invert);
        std::vector<std::string> extra = invert ? std::vector<std::string>{"-invert"} : std::vector<std::string>{};
        const auto run = runProgram(with(floatWords(frames, "nan", withNan), extra));
        const auto ref = runProgram(with(floatWords(frames, "ref", reference), extra));
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(ref.status, 0) << ref.errors;
        EXPECT_EQ(readFile(withNan.file("_cell.csv")), readFile(reference.file("_cell.csv"))) << "invert " << invert;
        EXPECT_EQ(averageWithoutTimes(withNan), averageWithoutTimes(reference));
        EXPECT_EQ(run.errors, "vanto: warning: frame 1 (" + frames.file("nan_1.tif") + "): " +
                                  std::to_string(holes[0].size()) + " NaN samples taken as background\n" +
                                  "vanto: warning: frame 3 (" + frames.file("nan_3.tif") + "): " +
                                  std::to_string(holes[2].size()) + " NaN samples taken as background\n");
        EXPECT_EQ(ref.errors, "");
        const auto record = nlohmann::json::parse(readFile(withNan.file("_run.json")));
        EXPECT_EQ(record["nan_samples"], nlohmann::json::parse("[{\"frame\": 1, \"samples\": " +
                                                               std::to_string(holes[0].size()) +
                                                               "}, {\"frame\": 3, \"samples\": " +
                                                               std::to_string(holes[2].size()) + "}]"));
    }
}

// A -range that cannot scale samples onto 0 .. 255 is refused before anything is analysed;
// the refused run leaves only its record.
TEST(RangeValues, BoundsThatCannotScaleOrAreMissingAreRefused) {
    TempDir frames, out;
    writeFloatSeries(frames, "f", 3, {}, 0);
    std::vector<std::string> words = floatWords(frames, "f", out);
    words.erase(words.begin() + 12, words.begin() + 15);  // "-range", "0", "2550"
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-range", "-1e308", "1e308"},
         "vanto: -range \"-1e308\" \"1e308\": HI - LO is not a finite number: give bounds nearer each other\n"},
        {{"-range", "0", "1e-310"},
         "vanto: -range \"0\" \"1e-310\": HI - LO is too small to scale onto 0 .. 255: give bounds further apart\n"},
        {{"-range", "inf", "5"}, "vanto: -range \"inf\" \"5\" must be two finite numbers LO HI\n"},
        {{"-range", "0", "nan"}, "vanto: -range \"0\" \"nan\" must be two finite numbers LO HI\n"},
        {{"-range", "10"}, "vanto: -range needs two values LO HI after it\n"},
    };
    for (const auto& [range, message] : cases) {
        const auto refused = runProgram(with(words, range));
        EXPECT_EQ(refused.status, 1) << message;
        // A value missing at the end also leaves its one word stray: warned, then refused.
        EXPECT_EQ(refused.errors, range.size() == 2 ? "vanto: warning: stray word \"10\" ignored: it follows no "
                                                      "option that takes it\n" + message
                                                    : message);
        EXPECT_EQ(refused.console, "");
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(out.path())) left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{"_run.json"});
        const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
        EXPECT_EQ(record["ending"], "refused");
        EXPECT_EQ(record["errors"], nlohmann::json::array({message.substr(7, message.size() - 8)}));
    }
}

// Without -range a float frame is refused with a range to start from; a frame of infinities
// only has none to offer, and one with some infinite samples offers a finite one.
TEST(RangeValues, TheSuggestionNeverOffersAnInfiniteBound) {
    const float inf = std::numeric_limits<float>::infinity();
    TempDir frames, out;
    std::vector<size_t> everyPixel(kWidth * kHeight);
    for (size_t i = 0; i < everyPixel.size(); ++i) everyPixel[i] = i;
    writeFloatSeries(frames, "inf", 1, {everyPixel}, inf);
    writeFloatSeries(frames, "some", 1, {{0, 1, 2}}, -inf);
    std::vector<std::string> words = floatWords(frames, "inf", out);
    words.erase(words.begin() + 12, words.begin() + 15);
    words[7] = "1";
    const auto allInfinite = runProgram(words);
    EXPECT_EQ(allInfinite.status, 1);
    EXPECT_EQ(allInfinite.errors, "vanto: cannot analyse frame 1 (" + frames.file("inf_1.tif") +
                                      "): it holds 32-bit floating-point gray samples, 1 per pixel, 96 x 64, none "
                                      "of them finite (NaN or infinite only); give -range LO HI in the units of the "
                                      "other frames\n");
    words[1] = frames.path() + "/some_%d.tif";
    const auto some = runProgram(words);
    EXPECT_EQ(some.status, 1);
    EXPECT_EQ(some.errors.find("inf "), std::string::npos) << some.errors;
    EXPECT_NE(some.errors.find(" (3 samples NaN or infinite); give -range "), std::string::npos) << some.errors;
    const size_t at = some.errors.find("give -range ");
    double low = 0, high = 0;
    ASSERT_EQ(std::sscanf(some.errors.c_str() + at, "give -range %lf %lf", &low, &high), 2) << some.errors;
    EXPECT_TRUE(std::isfinite(low) && std::isfinite(high) && low < high) << some.errors;
}

// A range under which nearly all of frame 1 is one gray is a warning with the frame's
// percentiles; the run goes on as asked.
TEST(RangeValues, ARangeThatClipsNearlyAllOfFrameOneIsAWarning) {
    TempDir frames, out, fine;
    writeFloatSeries(frames, "f", 3, {}, 0);  // samples 10 x gray
    std::vector<std::string> words = floatWords(frames, "f", out);
    words[14] = "100";  // -range 0 100: nearly every sample is 100 or more
    const auto clipped = runProgram(words);
    EXPECT_EQ(clipped.status, 0) << clipped.errors;
    const auto lines = splitLines(clipped.errors);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("vanto: warning: -range 0 100: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" % of frame 1's samples lie at or above 100 (gray 255); its 0.1, 50 and 99.9 "
                            "percentiles are "),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(": try -range "), std::string::npos) << lines[0];
    const auto usual = runProgram(floatWords(frames, "f", fine));
    EXPECT_EQ(usual.status, 0);
    EXPECT_EQ(usual.errors, "");
}

}  // namespace
}  // namespace vanto
