// Every per-frame output of a run ends on the same whole frame, whichever output of a frame
// fails and however the run is stopped: the run is compared, output by output, with a run
// that was given just the frames that were kept.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::ChildSetup;
using testing::readFile;
using testing::runChild;
using testing::seriesWords;
using testing::splitLines;
using testing::TempDir;
using testing::with;

constexpr int kFrames = 5;

std::vector<std::string> runWords(const TempDir& frames, const TempDir& out, int count, const char* threads = "2") {
    return with(seriesWords(frames, count, kFrames),
                {"-output", out.path(), "-image", "-voronoi", "-ctc", out.file("ctc"), "-tracks", "-threads", threads});
}

// The byte offset just past the first `lines` lines of a file (its length when it has fewer).
size_t endOfLines(const std::string& path, size_t lines) {
    const std::string text = readFile(path);
    size_t at = 0;
    for (size_t i = 0; i < lines; ++i) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return text.size();
        at = end + 1;
    }
    return at;
}

// Report lines with the time column (the average report's second field) masked.
std::vector<std::string> withoutTimes(const std::string& path, size_t headerLines) {
    auto lines = splitLines(readFile(path));
    for (size_t i = headerLines; i < lines.size(); ++i) {
        const size_t first = lines[i].find(',');
        const size_t second = lines[i].find(',', first + 1);
        lines[i] = lines[i].substr(0, first + 1) + "T" + lines[i].substr(second);
    }
    return lines;
}

// _tracks.csv of a run that stopped early reads "stopped" where a run that ended there reads
// "end of series"; nothing else may differ.
std::string asEnded(std::string tracks) {
    for (size_t at; (at = tracks.find(",stopped,")) != std::string::npos;) tracks.replace(at, 9, ",end of series,");
    return tracks;
}

std::vector<std::string> fileNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every output in `got` equals that of the clean run in `want` of exactly `frames` frames.
void expectSameOutputs(const TempDir& got, const TempDir& want, int frames) {
    EXPECT_EQ(fileNames(got.path()), fileNames(want.path())) << "the same files, no partial or temporary one";
    EXPECT_EQ(fileNames(got.file("ctc")), fileNames(want.file("ctc")));
    EXPECT_EQ(withoutTimes(got.file("_average.csv"), 2), withoutTimes(want.file("_average.csv"), 2));
    EXPECT_EQ(readFile(got.file("_cell.csv")), readFile(want.file("_cell.csv")));
    EXPECT_EQ(readFile(got.file("_events.csv")), readFile(want.file("_events.csv")));
    EXPECT_EQ(asEnded(readFile(got.file("_tracks.csv"))), readFile(want.file("_tracks.csv")));
    EXPECT_EQ(readFile(got.file("ctc/res_track.txt")), readFile(want.file("ctc/res_track.txt")));
    for (const auto& name : fileNames(want.file("ctc")))
        EXPECT_EQ(readFile(got.file("ctc/" + name)), readFile(want.file("ctc/" + name))) << name;
    for (const auto& name : fileNames(want.path())) {
        if (name.ends_with(".bmp")) {
            EXPECT_EQ(readFile(got.file(name)), readFile(want.file(name))) << name;
        }
    }
    const auto record = nlohmann::json::parse(readFile(got.file("_run.json")));
    EXPECT_EQ(record["frames_analysed"], frames);
}

class FrameTransaction : public ::testing::Test {
protected:
    // A clean run of `frames` frames of the series, to compare a stopped run with.
    const TempDir& cleanRun(int frames) {
        auto& slot = clean_[frames];
        if (!slot) {
            slot = std::make_unique<TempDir>();
            const auto out = runChild(runWords(frames_, *slot, frames));
            EXPECT_EQ(out.status, 0) << out.errors;
        }
        return *slot;
    }

    // A run of the whole series on `threads` threads in which the outputs whose paths end with
    // `suffix` fail: after `bytes` bytes, or at their creation when bytes < 0. The one failure
    // told names `told` (by default the suffix).
    void expectFailureKeepsWholeFrames(const std::string& suffix, long bytes, int keptFrames,
                                       const char* threads = "2", std::string told = {}) {
        if (told.empty()) told = suffix;
        TempDir out;
        ChildSetup setup;
        setup.environment = {std::string("LD_PRELOAD=") + VANTO_FAULT_SHIM, "VANTO_FAIL_PATH=" + suffix,
                             "VANTO_FAIL_AFTER_BYTES=" + std::to_string(bytes < 0 ? 0 : bytes),
                             bytes < 0 ? "VANTO_FAIL_AT_OPEN=1" : "VANTO_FAIL_AT_OPEN"};
        // A preloaded library comes before the sanitizer runtime in sanitizer builds.
        const char* asan = getenv("ASAN_OPTIONS");
        setup.environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
        const auto run = runChild(runWords(frames_, out, kFrames, threads), setup);
        EXPECT_EQ(run.status, 1) << run.errors;
        std::vector<std::string> lines;
        for (const auto& line : splitLines(run.errors))
            if (line.find("cannot write") != std::string::npos) lines.push_back(line);
        ASSERT_EQ(lines.size(), 1u) << run.errors;
        EXPECT_TRUE(lines[0].find(told) != std::string::npos) << lines[0] << ", " << threads << " threads";
        // libtiff words a failed mask write its own way.
        if (!suffix.ends_with(".tif")) {
            EXPECT_NE(lines[0].find("No space left on device"), std::string::npos) << lines[0];
        }
        const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
        EXPECT_EQ(record["ending"], "failed");
        ASSERT_EQ(record["errors"].size(), 1u);
        EXPECT_EQ("vanto: " + record["errors"][0].get<std::string>(), lines[0]);
        EXPECT_EQ(splitLines(readFile(out.file("_log.txt"))).back(), "--- " + lines[0].substr(7) + " ---");
        expectSameOutputs(out, cleanRun(keptFrames), keptFrames);
    }

    TempDir frames_;
    std::map<int, std::unique_ptr<TempDir>> clean_;
};

TEST_F(FrameTransaction, AFailureAtAnyOutputOfAFrameLeavesEveryOutputAtTheFrameBefore) {
    // The first output of frame 3, a middle one cut part-way, and the last.
    expectFailureKeepsWholeFrames("10_Calculation_0003.bmp", -1, 2);
    expectFailureKeepsWholeFrames("12_Voronoi_0003.bmp", 100, 2);
    expectFailureKeepsWholeFrames("ctc/mask002.tif", 60, 2);
    // The first frame's outputs.
    expectFailureKeepsWholeFrames("12_Voronoi_0001.bmp", -1, 0);
}

// The bitmaps and the mask are drawn or encoded and written beside the frame's other outputs,
// on a worker or on the main thread: a failed one fails its frame on any thread count as it
// did in order, the calculation image's failure told ahead of the Voronoi image's.
TEST_F(FrameTransaction, AFailedBitmapOrMaskFailsItsFrameOnEveryThreadCount) {
    for (const char* threads : {"1", "3", "8"}) {
        expectFailureKeepsWholeFrames("10_Calculation_0003.bmp", -1, 2, threads);
        expectFailureKeepsWholeFrames("12_Voronoi_0004.bmp", 100, 3, threads);
        expectFailureKeepsWholeFrames("_0002.bmp", 200, 1, threads, "10_Calculation_0002.bmp");
        expectFailureKeepsWholeFrames("ctc/mask004.tif", 80, 4, threads);
    }
}

TEST_F(FrameTransaction, AFailedReportOrEventRowLeavesEveryOutputAtTheFrameBefore) {
    const TempDir& whole = cleanRun(kFrames);
    // Part of frame 4's rows, and the whole last frame's event row but its newline.
    expectFailureKeepsWholeFrames("_cell.csv", static_cast<long>(endOfLines(whole.file("_cell.csv"), 1)) + 0, 0);
    const size_t cellRowsOf3 = endOfLines(cleanRun(3).file("_cell.csv"), 1 << 20);
    expectFailureKeepsWholeFrames("_cell.csv", static_cast<long>(cellRowsOf3) + 5, 3);
    // The average report's time column differs from run to run by a few digits: the failure is
    // placed well inside frame 2's row, which is over 100 bytes long.
    expectFailureKeepsWholeFrames("_average.csv", static_cast<long>(endOfLines(whole.file("_average.csv"), 3)) + 40, 1);
    const size_t eventsBeforeLast = endOfLines(whole.file("_events.csv"), kFrames);
    expectFailureKeepsWholeFrames("_events.csv", static_cast<long>(eventsBeforeLast) + 3, kFrames - 1);
}

TEST_F(FrameTransaction, SigtermLeavesEveryOutputOnAWholeFrameAndTheRecordSaysSo) {
    TempDir out;
    ChildSetup setup;
    setup.actionAfterFrames = 2;
    setup.action = [](pid_t pid) { kill(pid, SIGTERM); };
    // Fewer than 1,000 frames, so that the masks are named as in the shorter clean run.
    const auto run = runChild(runWords(frames_, out, 999), setup);
    EXPECT_EQ(run.status, 128 + SIGTERM) << run.errors;
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    const int frames = record["frames_analysed"].get<int>();
    ASSERT_GE(frames, 2);
    EXPECT_EQ(record["ending"], "interrupted");
    ASSERT_EQ(record["errors"].size(), 1u);
    EXPECT_EQ(record["errors"][0], "Interrupted at frame " + std::to_string(frames + 1) + " by SIGTERM");
    // Frames past the fifth repeat the last one; a clean run of as many frames matches.
    expectSameOutputs(out, cleanRun(frames), frames);
}

}  // namespace
}  // namespace vanto
