#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "child_run.h"
#include "shared_data.h"
#include "driver/frame_pipeline.h"
#include "limit_frames.h"
#include "run_fixture.h"
#include "synthetic_series.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::splitFields;
using testing::splitLines;
using testing::TempDir;

// text with the milliseconds of every "Analysis Finished in N " replaced by T.
std::string withoutTimes(const std::string& text) {
    static const std::string finished = "Analysis Finished in ";
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(finished); at != std::string::npos; at = text.find(finished, from)) {
        out.append(text, from, at + finished.size() - from).append("T");
        from = std::min(text.find(' ', at + finished.size()), text.size());
    }
    return out.append(text, from, std::string::npos);
}

// Every file a run writes in its folder (and the folders in it) by relative path, times aside.
std::map<std::string, std::string> filesOf(const TempDir& dir) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (entry.is_directory()) continue;
        const std::string name = entry.path().lexically_relative(dir.path()).string();
        if (name == "_run.json") continue;  // the run record holds the command line and clock times
        std::string text = readFile(entry.path().string());
        if (name == "_log.txt") text = withoutTimes(text);
        if (name == "_average.csv") {
            const auto lines = splitLines(text);
            text.clear();
            for (size_t i = 0; i < lines.size(); ++i) {
                auto fields = splitFields(lines[i]);
                if (i >= 2 && fields.size() > 1) fields[1] = "T";
                for (const auto& f : fields) text += f + ",";
                text += "\n";
            }
        }
        out[name] = text;
    }
    return out;
}

// Everything a run writes, times aside: its files, the console, standard error and the status.
std::map<std::string, std::string> outputsOf(const testing::RunOutput& run, const TempDir& dir) {
    std::map<std::string, std::string> out = filesOf(dir);
    out["console"] = withoutTimes(run.console);
    out["errors"] = run.errors;
    out["status"] = std::to_string(run.status);
    return out;
}

// The words that turn every output on; kCtcFolder stands for a folder in the run's -output.
const std::string kCtcFolder = "{ctc}";
const std::vector<std::string> kEveryOutput = {"-image", "-id", "-voronoi", "-ctc", kCtcFolder, "-tracks", "-objects"};

// Runs words with -threads 1, 2, 3 and 8; every run must write what the one-thread run writes.
// Returns the one-thread run's outputs.
std::map<std::string, std::string> expectSameForEveryThreadCount(const std::vector<std::string>& words) {
    std::map<std::string, std::string> single;
    for (const char* threads : {"1", "2", "3", "8"}) {
        TempDir dir;
        std::vector<std::string> all = words;
        std::replace(all.begin(), all.end(), kCtcFolder, dir.file("ctc"));
        all.insert(all.end(), {"-output", dir.path(), "-threads", threads});
        const auto outputs = outputsOf(runProgram(all), dir);
        if (single.empty()) {
            single = outputs;
            continue;
        }
        EXPECT_EQ(outputs.size(), single.size()) << threads << " threads";
        for (const auto& [name, text] : single) {
            const auto it = outputs.find(name);
            EXPECT_TRUE(it != outputs.end() && it->second == text) << name << " differs with " << threads << " threads";
        }
    }
    return single;
}

int countLines(const std::string& text, const std::string& line) {
    const auto lines = splitLines(text);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::string frameName(const TempDir& dir, int j) { return dir.file("f_" + std::to_string(j) + ".png"); }

// A run over frames 1..count of frames (f_N.png), the whole of params' frame, at its suggested
// threshold.
RunConfig pipelineConfig(const TempDir& frames, const SeriesParams& params, int32_t count) {
    RunConfig config;
    config.sourcePattern = frames.path() + "/f_%d.png";
    config.frameWidth = params.width;
    config.frameHeight = params.height;
    config.frameCount = count;
    config.hasCount = true;
    config.threshold = suggestedThreshold(params);
    return config;
}

// Frames 1-6 of a generated series of 320 x 240 drawn into frames; returns the words of a run
// over them with -image and -tracks.
// A generated series of width x height frames with the given number of cells.
SeriesParams smallSeries(int32_t width, int32_t height, int32_t cells) {
    SeriesParams params;
    params.width = width;
    params.height = height;
    params.cellCount = cells;
    return params;
}

// Generated frame j of the series, as frames/f_j.png.
void drawFrame(const TempDir& frames, const SeriesParams& params, int32_t j) {
    std::vector<uint8_t> pixels(static_cast<size_t>(params.width) * params.height);
    renderSyntheticFrame(params, j, pixels.data());
    EXPECT_TRUE(writeGrayPng(frameName(frames, j).c_str(), params.width, params.height, pixels.data())) << j;
}

std::vector<std::string> drawSixFrames(const TempDir& frames, const SeriesParams& params) {
    for (int32_t j = 1; j <= 6; ++j) drawFrame(frames, params, j);
    return {"-source", frames.path() + "/f_%d.png", "-w", "320", "-h", "240", "-count", "6",
            "-threshold", "20", "-size", "40", "-image", "-tracks"};
}

TEST(ThreadCounts, GeneratedSeriesWithUnreadableFramesWritesTheSameBytes) {
    // Frame 1 and three later frames cannot be read; each is analysed with the pixels of the
    // frame before it (zeros for frame 1), which the workers cannot know in advance.
    TempDir frames;
    const SeriesParams params = smallSeries(160, 120, 12);
    for (int j = 2; j <= 14; ++j) {
        drawFrame(frames, params, j);
    }
    std::filesystem::remove(frameName(frames, 6));
    std::ofstream(frameName(frames, 7)) << "not an image";
    const std::vector<uint8_t> narrow(100 * 120, 200);
    ASSERT_TRUE(writeGrayPng(frameName(frames, 10).c_str(), 100, 120, narrow.data()));  // too narrow
    std::ofstream(frameName(frames, 1)) << "not an image";
    std::vector<std::string> words = {"-source", frames.path() + "/f_%d.png", "-w", "160", "-h", "120", "-count", "14",
                                      "-threshold", std::to_string(suggestedThreshold(params)), "-size", "20"};
    words.insert(words.end(), kEveryOutput.begin(), kEveryOutput.end());
    const auto out = expectSameForEveryThreadCount(words);
    EXPECT_EQ(countLines(out.at("console"), "Image Load Error"), 4);
    for (const char* name : {"12_Voronoi_0014.bmp", "10_Calculation_0014.bmp", "ctc/mask013.tif", "ctc/res_track.txt",
                             "_tracks.csv", "_events.csv", "_objects.csv"})
        EXPECT_EQ(out.count(name), 1u) << name;
    // Frame 7 repeats frame 5's pixels, so it finds the same cells as frame 6 did.
    const auto average = splitLines(out.at("_average.csv"));
    ASSERT_EQ(average.size(), 16u);
    EXPECT_EQ(splitFields(average[8])[3], splitFields(average[7])[3]);
}

TEST(ThreadCounts, ACorruptProgramCacheEntryIsBuiltAgainAndTheOutputsStayTheSame) {
    const std::string folder = std::string(VANTO_SHARED_DATA) + "/c2c12-phase";
    VANTO_NEED_SHARED_DATA(folder);
    TempDir cache;
    const char* was = std::getenv("VANTO_CACHE_DIR");
    const std::string saved = was ? was : "";
    ::setenv("VANTO_CACHE_DIR", cache.path().c_str(), 1);
    const std::vector<std::string> words = {"-source", folder + "/c2c12_%04d.png", "-w", "234", "-h", "234",
                                            "-count", "4", "-threshold", "12", "-size", "15", "-image", "-voronoi"};
    // Runs words on `threads`, returning every output and the one cache entry's bytes.
    const auto runOnce = [&](const char* threads) {
        TempDir dir;
        std::vector<std::string> all = words;
        all.insert(all.end(), {"-output", dir.path(), "-threads", threads});
        auto outputs = outputsOf(runProgram(all), dir);
        std::string entry;
        for (const auto& e : std::filesystem::directory_iterator(cache.path())) entry = e.path().string();
        return std::pair{outputs, entry};
    };
    const auto [built, entry] = runOnce("1");
    ASSERT_FALSE(entry.empty()) << "the first run stores the program";
    const std::string good = readFile(entry);
    for (const char* threads : {"1", "3"}) {
        std::string bad = good;
        for (size_t i = bad.size() / 3; i < bad.size() / 3 + 64; ++i) bad[i] = static_cast<char>(~bad[i]);
        std::ofstream(entry, std::ios::binary | std::ios::trunc) << bad;
        const auto [again, same] = runOnce(threads);
        EXPECT_EQ(same, entry);
        EXPECT_EQ(readFile(entry), good) << "the damaged entry is replaced by the program built again";
        EXPECT_EQ(again, built) << threads << " threads";
    }
    if (was) {
        ::setenv("VANTO_CACHE_DIR", saved.c_str(), 1);
    } else {
        ::unsetenv("VANTO_CACHE_DIR");
    }
}

TEST(ThreadCounts, RealSeriesWritesTheSameBytes) {
    const std::string folder = std::string(VANTO_SHARED_DATA) + "/c2c12-phase";
    VANTO_NEED_SHARED_DATA(folder);
    const auto out = expectSameForEveryThreadCount({"-source", folder + "/c2c12_%04d.png", "-w", "234", "-h", "234",
                                                    "-count", "10", "-threshold", "12", "-size", "15", "-image",
                                                    "-voronoi"});
    EXPECT_EQ(splitLines(out.at("_average.csv")).size(), 12u);
    EXPECT_GT(splitLines(out.at("_cell.csv")).size(), 10u);
}

TEST(ThreadCounts, CellOptionsWriteTheSameBytes) {
    const std::string folder = std::string(VANTO_SHARED_DATA) + "/c2c12-phase";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no shared data at " << folder;
    const std::vector<std::string> plain = {"-source", folder + "/c2c12_%04d.png", "-w", "234", "-h", "234",
                                            "-count", "10", "-threshold", "12", "-size", "15", "-image", "-tracks"};
    std::vector<std::string> options = plain;
    options.insert(options.end(), {"-smooth", "0.7", "-split", "1", "-min-contrast", "20", "-grow", "2", "-min-area",
                                   "20", "-max-area", "2000"});
    const auto out = expectSameForEveryThreadCount(options);
    TempDir dir;
    std::vector<std::string> words = plain;
    words.insert(words.end(), {"-output", dir.path(), "-threads", "1"});
    const auto without = outputsOf(runProgram(words), dir);
    EXPECT_EQ(out.at("status"), "0");
    EXPECT_NE(out.at("_cell.csv"), without.at("_cell.csv"));
    EXPECT_NE(out.at("10_Calculation_0003.bmp"), without.at("10_Calculation_0003.bmp"));
    // The bright halves joined and the lone bright cells made after the contrast filter.
    std::vector<std::string> halo = plain;
    halo.insert(halo.end(), {"-min-contrast", "30", "-halo", "25", "-halo-cells", "20", "-grow", "1"});
    const auto haloOut = expectSameForEveryThreadCount(halo);
    EXPECT_EQ(haloOut.at("status"), "0");
    EXPECT_NE(haloOut.at("_cell.csv"), out.at("_cell.csv"));
}

TEST(ThreadCounts, SplittingWritesTheSameBytes) {
    // Touching synthetic cells, split by shape with and without the filters after it, and by
    // gray, with the divisions joined again by the tracker and kept.
    TempDir frames;
    SeriesParams params;
    params.cellCount = 60;
    const std::vector<std::string> plain = drawSixFrames(frames, params);
    std::vector<std::string> split = plain;
    split.insert(split.end(), {"-split", "1.5"});
    std::vector<std::string> all = split;
    all.insert(all.end(), {"-smooth", "0.5", "-min-contrast", "15", "-grow", "-1", "-min-area", "30"});
    std::vector<std::string> gray = plain;
    gray.insert(gray.end(), {"-split-gray", "2"});
    std::vector<std::string> kept = gray;
    kept.push_back("-keep-divisions");
    const auto splitOut = expectSameForEveryThreadCount(split);
    const auto allOut = expectSameForEveryThreadCount(all);
    const auto grayOut = expectSameForEveryThreadCount(gray);
    const auto keptOut = expectSameForEveryThreadCount(kept);
    TempDir dir;
    std::vector<std::string> words = plain;
    words.insert(words.end(), {"-output", dir.path(), "-threads", "1"});
    const auto without = outputsOf(runProgram(words), dir);
    EXPECT_EQ(splitOut.at("status"), "0");
    // More cells with -split than without over the series (the average report's cell counts).
    const auto cellsOf = [](const std::string& average) {
        const auto lines = splitLines(average);
        int total = 0;
        for (size_t i = 2; i < lines.size(); ++i) total += std::stoi(splitFields(lines[i])[3]);
        return total;
    };
    EXPECT_GT(cellsOf(splitOut.at("_average.csv")), cellsOf(without.at("_average.csv")));
    EXPECT_GT(cellsOf(grayOut.at("_average.csv")), cellsOf(without.at("_average.csv")));
    EXPECT_GE(cellsOf(keptOut.at("_average.csv")), cellsOf(grayOut.at("_average.csv")));
    EXPECT_NE(allOut.at("_cell.csv"), splitOut.at("_cell.csv"));
}

TEST(ThreadCounts, EdgeCutWritesTheSameBytes) {
    // Soft-edged generated cells with debris and touching daughters, cut and then split.
    TempDir frames;
    SeriesParams params;
    params.cellCount = 60;
    params.debris = 10;
    params.divisions = 4;
    const std::vector<std::string> plain = drawSixFrames(frames, params);
    std::vector<std::string> cut = plain;
    cut.insert(cut.end(), {"-edge-cut", "0.5", "-split", "1", "-min-area", "30"});
    const auto cutOut = expectSameForEveryThreadCount(cut);
    TempDir dir;
    std::vector<std::string> words = plain;
    words.insert(words.end(), {"-split", "1", "-min-area", "30", "-output", dir.path(), "-threads", "1"});
    const auto without = outputsOf(runProgram(words), dir);
    EXPECT_EQ(cutOut.at("status"), "0");
    // The cut takes the soft rim off every cell: the cells' summed area over the series falls.
    const auto areaOf = [](const std::string& average) {
        const auto lines = splitLines(average);
        double total = 0;
        for (size_t i = 2; i < lines.size(); ++i) {
            const auto fields = splitFields(lines[i]);
            total += std::stod(fields[3]) * std::stod(fields[4]);
        }
        return total;
    };
    EXPECT_LT(areaOf(cutOut.at("_average.csv")), 0.8 * areaOf(without.at("_average.csv")));
}

TEST(ThreadCounts, CellLimitMidwayDropsTheFramesReadAhead) {
    TempDir frames;
    for (int j : {1, 2, 4, 5, 6}) ASSERT_TRUE(testing::writeSparseFrame(frameName(frames, j), j));
    ASSERT_TRUE(testing::writeCrowdedFrame(frameName(frames, 3)));  // 2,025 cells
    std::vector<std::string> words = {"-source", frames.path() + "/f_%d.png", "-w", "945", "-h", "945", "-count", "6",
                                      "-threshold", "20"};
    words.insert(words.end(), kEveryOutput.begin(), kEveryOutput.end());
    const auto out = expectSameForEveryThreadCount(words);
    EXPECT_EQ(out.count("10_Calculation_0002.bmp"), 1u);
    EXPECT_EQ(out.count("10_Calculation_0003.bmp"), 0u);
    const auto console = splitLines(out.at("console"));
    ASSERT_GE(console.size(), 2u);
    EXPECT_EQ(console.back(), "Cell Number Too Much ");
    EXPECT_EQ(console[console.size() - 2], "--- " + frameName(frames, 3) + " ---");
    EXPECT_EQ(splitLines(out.at("_average.csv")).size(), 4u);
}

TEST(ThreadCounts, LinkLimitMidwayDropsTheFramesReadAhead) {
    // 145 horizontal bars, then 145 vertical ones: every bar of one frame crosses every bar of
    // the other, 21,025 candidate links. Frame 4 is read ahead and cannot be read.
    TempDir frames;
    const int32_t side = 1490, pitch = 10, margin = 20;
    std::vector<uint8_t> across(side * side, 200), down(side * side, 200);
    for (int32_t y = margin; y < side - margin; ++y)
        for (int32_t x = margin; x < side - margin; ++x)
            if ((y - margin) % pitch < 3) across[y * side + x] = 10;
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x) down[y * side + x] = across[x * side + y];
    ASSERT_TRUE(writeGrayPng(frameName(frames, 1).c_str(), side, side, across.data()));
    ASSERT_TRUE(writeGrayPng(frameName(frames, 2).c_str(), side, side, across.data()));
    ASSERT_TRUE(writeGrayPng(frameName(frames, 3).c_str(), side, side, down.data()));
    ASSERT_TRUE(writeGrayPng(frameName(frames, 5).c_str(), side, side, down.data()));
    std::vector<std::string> words = {"-source", frames.path() + "/f_%d.png", "-w", "1490", "-h", "1490", "-count", "5",
                                      "-threshold", "20"};
    words.insert(words.end(), kEveryOutput.begin(), kEveryOutput.end());
    const auto out = expectSameForEveryThreadCount(words);
    EXPECT_EQ(out.count("ctc/mask001.tif"), 1u);
    EXPECT_EQ(out.count("ctc/mask002.tif"), 0u);
    const auto console = splitLines(out.at("console"));
    ASSERT_GE(console.size(), 2u);
    EXPECT_EQ(console.back(), "Link Number Too Much ");
    EXPECT_EQ(console[console.size() - 2], "--- " + frameName(frames, 3) + " ---");
    EXPECT_EQ(countLines(out.at("console"), "Image Load Error"), 0);
    EXPECT_EQ(splitLines(out.at("_average.csv")).size(), 4u);
}

// Runs of 999 frames (fewer than 1,000, so that the masks are named as in shorter runs) with
// every output on, stopped by SIGTERM after a few frames while frames ahead are being
// segmented: each ends on a whole frame, with the bytes of a one-thread run of just those frames.
TEST(ThreadCounts, AnInterruptedRunWithEveryOutputIsARunOfTheFramesItFinished) {
    TempDir frames;
    const SeriesParams params = smallSeries(96, 64, 5);
    for (int j = 1; j <= 999; ++j) {
        if (j % 7 == 4) {
            std::ofstream(frameName(frames, j)) << "not an image";
        } else if (j <= 10) {
            drawFrame(frames, params, j);
        } else {  // the first ten frames over again
            std::filesystem::create_hard_link(frameName(frames, (j - 1) % 10 + 1), frameName(frames, j));
        }
    }
    const auto wordsFor = [&](const TempDir& out, int count, const char* threads) {
        std::vector<std::string> words = {"-source", frames.path() + "/f_%d.png", "-w", "96", "-h", "64", "-count",
                                          std::to_string(count), "-threshold", "20", "-size", "5", "-output",
                                          out.path(), "-threads", threads};
        words.insert(words.end(), kEveryOutput.begin(), kEveryOutput.end());
        std::replace(words.begin(), words.end(), kCtcFolder, out.file("ctc"));
        return words;
    };
    std::map<int, std::map<std::string, std::string>> clean;  // by frame count
    for (const char* threads : {"1", "2", "3", "8"}) {
        TempDir out;
        testing::ChildSetup setup;
        setup.actionAfterFrames = 3;
        setup.action = [](pid_t pid) { kill(pid, SIGTERM); };
        const auto run = testing::runChild(wordsFor(out, 999, threads), setup);
        ASSERT_EQ(run.status, 128 + SIGTERM) << threads << " threads: " << run.errors;
        const int done = nlohmann::json::parse(readFile(out.file("_run.json")))["frames_analysed"];
        ASSERT_GE(done, 3);
        ASSERT_LT(done, 999);
        if (!clean.count(done)) {
            TempDir whole;
            ASSERT_EQ(testing::runChild(wordsFor(whole, done, "1")).status, done >= 4 ? 2 : 0);
            clean[done] = filesOf(whole);
        }
        auto got = filesOf(out);
        // The log goes on with the frame begun and where the run stopped; the tracks present
        // at the end are "stopped" where the whole run's end with the series.
        const std::string& log = clean[done].at("_log.txt");
        EXPECT_EQ(got["_log.txt"].substr(0, log.size()), log) << threads << " threads";
        EXPECT_EQ(splitLines(got["_log.txt"]).back(),
                  "--- Interrupted at frame " + std::to_string(done + 1) + " by SIGTERM ---");
        got["_log.txt"] = log;
        std::string& tracks = got["_tracks.csv"];
        for (size_t at; (at = tracks.find(",stopped,")) != std::string::npos;) tracks.replace(at, 9, ",end of series,");
        EXPECT_EQ(got.size(), clean[done].size()) << threads << " threads";
        for (const auto& [name, text] : clean[done]) {
            const auto it = got.find(name);
            EXPECT_TRUE(it != got.end() && it->second == text) << name << " differs with " << threads << " threads";
        }
    }
}

// The main loop may leave early (a stop, a signal) with frames in every state ahead of it.
TEST(FramePipeline, StopsCleanlyWhereverTheMainThreadLeaves) {
    TempDir frames;
    const SeriesParams params = smallSeries(64, 48, 3);
    for (int j = 1; j <= 9; j += 2) {  // even frames cannot be read
        drawFrame(frames, params, j);
    }
    const RunConfig config = pipelineConfig(frames, params, 10);
    std::ofstream(frameName(frames, 10)) << "not an image";  // the series reaches frame 10
    FrameSeries series;
    ASSERT_EQ(series.resolve(config).refusal, "");
    std::vector<uint8_t> lastGray(64 * 48, 0);
    for (int32_t threads : {1, 2, 3, 8}) {
        for (int32_t taken : {0, 1, 2, 5, 10}) {
            FramePipeline pipeline(config, series, testing::runTables());
            ASSERT_TRUE(pipeline.reserve(threads));
            pipeline.start();
            for (int32_t j = 1; j <= taken; ++j) {
                FrameInFlight& frame = pipeline.next(j, lastGray.data());
                EXPECT_EQ(frame.frame, j);
                EXPECT_EQ(frame.load.code == StatusCode::ok, j % 2 == 1);
                EXPECT_GT(frame.curCount, 0) << "frame " << j;  // unread frames repeat the cells before
                pipeline.release(frame);
            }
            pipeline.stop();
        }  // the destructor stops again
    }
}

// While every worker is held at its first frame, the main thread, wanting frame 1, loads and
// segments the frames no worker has begun (the last frames in flight; one of them cannot be
// read) instead of waiting; every frame comes back as a one-thread pipeline gives it.
TEST(FramePipeline, TheMainThreadSegmentsTheFramesNoWorkerHasBegun) {
    TempDir frames;
    const SeriesParams params = smallSeries(64, 48, 4);
    const size_t pixelCount = 64 * 48;
    for (int j = 1; j <= 12; ++j) {
        if (j == 3 || j == 4 || j == 9) {  // the second frame the main thread takes with 2, 3 and 8 threads
            std::ofstream(frameName(frames, j)) << "not an image";
            continue;
        }
        drawFrame(frames, params, j);
    }
    const RunConfig config = pipelineConfig(frames, params, 12);
    FrameSeries series;
    ASSERT_EQ(series.resolve(config).refusal, "");

    struct Segmented {
        int32_t cells;
        std::vector<int32_t> labels;
        std::vector<uint8_t> gray;
    };
    const auto take = [&](FramePipeline& pipeline, std::vector<uint8_t>& lastGray, int32_t j) {
        FrameInFlight& frame = pipeline.next(j, lastGray.data());
        Segmented out{frame.curCount, std::vector<int32_t>(frame.segLabels, frame.segLabels + pixelCount),
                      std::vector<uint8_t>(frame.gray(), frame.gray() + pixelCount)};
        pipeline.release(frame);
        return out;
    };
    std::vector<Segmented> alone;
    {
        FramePipeline pipeline(config, series, testing::runTables());
        ASSERT_TRUE(pipeline.reserve(1));
        pipeline.start();
        std::vector<uint8_t> lastGray(pixelCount, 0);
        for (int32_t j = 1; j <= 12; ++j) alone.push_back(take(pipeline, lastGray, j));
    }
    EXPECT_GT(alone[1].cells, 0);

    for (const int32_t threads : {2, 3, 8}) {
        std::mutex mutex;
        std::condition_variable changed;
        int32_t workersHeld = 0;
        std::vector<int32_t> begunByMain;
        bool timedOut = false;
        FramePipeline pipeline(config, series, testing::runTables());
        ASSERT_TRUE(pipeline.reserve(threads));
        pipeline.setBeginHook([&](int32_t number, bool mainThread) {
            std::unique_lock lock(mutex);
            if (mainThread) {
                begunByMain.push_back(number);
            } else {
                ++workersHeld;
            }
            changed.notify_all();
            // Workers go on once the main thread has begun two frames (or, failing that, after
            // a minute, once).
            const auto twoBegun = [&] { return begunByMain.size() >= 2; };
            if (!mainThread && !timedOut && !changed.wait_for(lock, std::chrono::seconds(60), twoBegun)) timedOut = true;
        });
        pipeline.start();
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return workersHeld == threads - 1; }));
        }
        std::vector<uint8_t> lastGray(pixelCount, 0);
        for (int32_t j = 1; j <= 12; ++j) {
            const Segmented got = take(pipeline, lastGray, j);
            const Segmented& want = alone[static_cast<size_t>(j - 1)];
            EXPECT_EQ(got.cells, want.cells) << threads << " threads, frame " << j;
            EXPECT_TRUE(got.labels == want.labels && got.gray == want.gray) << threads << " threads, frame " << j;
        }
        pipeline.stop();
        std::lock_guard lock(mutex);
        EXPECT_FALSE(timedOut) << threads << " threads: the main thread waited for the held workers";
        ASSERT_GE(begunByMain.size(), 2u);
        EXPECT_EQ(begunByMain[0], threads) << "the first frame no worker had begun";
        EXPECT_EQ(begunByMain[1], threads + 1);
    }
}

// A task of the frame being written, with the thread that ran it and a failure to hand back.
struct RecordingTask final : FrameTask {
    explicit RecordingTask(std::string why) : why(std::move(why)) {}
    Status run() override {
        ranOn = std::this_thread::get_id();
        ++runs;
        return why.empty() ? Status{} : Status::outputFailure(why);
    }
    std::string why;
    std::thread::id ranOn;
    int runs = 0;
};

// A posted task is taken by a worker that is free; when none is (all are held at their first
// frame), the main thread runs it at the join, in the order posted, rather than wait. Either
// way, and without workers, the join hands back the task's outcome.
TEST(FramePipeline, PostedTasksRunOnAFreeWorkerOrOnTheMainThreadAtTheJoin) {
    TempDir frames;
    const SeriesParams params = smallSeries(64, 48, 3);
    for (int j = 1; j <= 12; ++j) {
        drawFrame(frames, params, j);
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<uint8_t> lastGray(64 * 48, 0);
    {  // one thread: run when posted
        const RunConfig config = pipelineConfig(frames, params, 2);
        FrameSeries series;
        ASSERT_EQ(series.resolve(config).refusal, "");
        FramePipeline pipeline(config, series, testing::runTables());
        ASSERT_TRUE(pipeline.reserve(1));
        pipeline.start();
        RecordingTask task("cannot write \"a.bmp\"");
        pipeline.post(task);
        EXPECT_EQ(task.runs, 1);
        const Status joined = pipeline.join(task);
        EXPECT_EQ(joined.code, StatusCode::outputFailed);
        EXPECT_EQ(joined.detail, "cannot write \"a.bmp\"");
        EXPECT_EQ(task.ranOn, mainThread);
    }
    for (const int32_t threads : {2, 3, 8}) {  // every worker free: the frames are all segmented
        const RunConfig config = pipelineConfig(frames, params, threads - 1);
        FrameSeries series;
        ASSERT_EQ(series.resolve(config).refusal, "");
        FramePipeline pipeline(config, series, testing::runTables());
        std::mutex mutex;
        std::condition_variable changed;
        int workerRuns = 0;
        pipeline.setTaskHook([&](bool onMain) {
            std::lock_guard lock(mutex);
            if (!onMain) ++workerRuns;
            changed.notify_all();
        });
        ASSERT_TRUE(pipeline.reserve(threads));
        pipeline.start();
        for (int32_t j = 1; j < threads; ++j) pipeline.release(pipeline.next(j, lastGray.data()));
        RecordingTask first("cannot write \"b.bmp\"");
        RecordingTask second("");
        pipeline.post(first);
        pipeline.post(second);
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return workerRuns == 2; }))
                << threads << " threads: the free workers left the tasks";
        }
        const Status failed = pipeline.join(first);
        EXPECT_EQ(failed.detail, "cannot write \"b.bmp\"") << threads << " threads";
        EXPECT_TRUE(pipeline.join(second).ok());
        EXPECT_NE(first.ranOn, mainThread);
        EXPECT_NE(second.ranOn, mainThread);
        // Joined, a task can be posted again.
        pipeline.post(second);
        EXPECT_TRUE(pipeline.join(second).ok());
        EXPECT_EQ(second.runs, 2);
    }
    {  // while a worker runs the task joined, the main thread runs the one posted after it
        const RunConfig config = pipelineConfig(frames, params, 1);
        FrameSeries series;
        ASSERT_EQ(series.resolve(config).refusal, "");
        FramePipeline pipeline(config, series, testing::runTables());
        std::mutex mutex;
        std::condition_variable changed;
        bool workerRunning = false;
        bool mainRan = false;
        bool workerTimedOut = false;
        pipeline.setTaskHook([&](bool onMain) {
            std::unique_lock lock(mutex);
            if (onMain) {
                mainRan = true;
            } else {
                workerRunning = true;
            }
            changed.notify_all();
            if (!onMain && !changed.wait_for(lock, std::chrono::seconds(60), [&] { return mainRan; }))
                workerTimedOut = true;
        });
        ASSERT_TRUE(pipeline.reserve(2));
        pipeline.start();
        pipeline.release(pipeline.next(1, lastGray.data()));
        RecordingTask first("");
        RecordingTask second("cannot write \"d.tif\"");
        pipeline.post(first);
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return workerRunning; }));
        }
        pipeline.post(second);
        EXPECT_TRUE(pipeline.join(first).ok());
        EXPECT_EQ(pipeline.join(second).detail, "cannot write \"d.tif\"");
        EXPECT_NE(first.ranOn, mainThread);
        EXPECT_EQ(second.ranOn, mainThread);
        std::lock_guard lock(mutex);
        EXPECT_FALSE(workerTimedOut) << "the main thread waited for the worker instead of running the task after";
    }
    for (const int32_t threads : {2, 3}) {  // every worker held at its first frame
        const RunConfig config = pipelineConfig(frames, params, 12);
        FrameSeries series;
        ASSERT_EQ(series.resolve(config).refusal, "");
        FramePipeline pipeline(config, series, testing::runTables());
        std::mutex mutex;
        std::condition_variable changed;
        int32_t workersHeld = 0;
        bool joined = false;
        std::vector<bool> ranOnMain;
        pipeline.setBeginHook([&](int32_t, bool onMain) {
            if (onMain) return;
            std::unique_lock lock(mutex);
            ++workersHeld;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(60), [&] { return joined; });
        });
        pipeline.setTaskHook([&](bool onMain) {
            std::lock_guard lock(mutex);
            ranOnMain.push_back(onMain);
        });
        ASSERT_TRUE(pipeline.reserve(threads));
        pipeline.start();
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return workersHeld == threads - 1; }));
        }
        RecordingTask first("");
        RecordingTask second("cannot write \"c.bmp\"");
        pipeline.post(first);
        pipeline.post(second);
        const Status failed = pipeline.join(second);  // runs the first as well, first
        const Status done = pipeline.join(first);
        {
            std::lock_guard lock(mutex);
            joined = true;
        }
        changed.notify_all();
        EXPECT_EQ(failed.detail, "cannot write \"c.bmp\"") << threads << " threads";
        EXPECT_TRUE(done.ok());
        EXPECT_EQ(first.ranOn, mainThread);
        EXPECT_EQ(second.ranOn, mainThread);
        std::lock_guard lock(mutex);
        EXPECT_EQ(ranOnMain, (std::vector<bool>{true, true})) << threads << " threads";
    }
}

// Frame 1 is decoded once: the check keeps it and the run is handed the same pixels, even
// when the file has gone since. A first frame that failed the check is read again.
TEST(FrameSeries, TheCheckedFirstFrameIsKept) {
    TempDir frames;
    std::vector<uint8_t> pixels(16 * 8);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(writeGrayPng(frameName(frames, 1).c_str(), 16, 8, pixels.data()));
    RunConfig config;
    config.sourcePattern = frames.path() + "/f_%d.png";
    config.frameWidth = 16;
    config.frameHeight = 8;
    config.frameCount = 2;
    FrameSeries series;
    ASSERT_EQ(series.resolve(config).refusal, "");
    ASSERT_EQ(series.checkFirstFrame(config), "");
    FrameSeries missing;
    ASSERT_EQ(missing.resolve(config).refusal, "");
    std::filesystem::remove(frameName(frames, 1));
    FrameReader reader;
    std::vector<uint8_t> gray(16 * 8, 1);
    EXPECT_EQ(series.load(reader, 1, gray.data()).code, StatusCode::ok);
    EXPECT_EQ(gray, pixels);

    ASSERT_EQ(missing.checkFirstFrame(config), "");  // unreadable: left to the frame loop
    ASSERT_TRUE(writeGrayPng(frameName(frames, 1).c_str(), 16, 8, pixels.data()));
    EXPECT_EQ(missing.load(reader, 1, gray.data()).code, StatusCode::ok);
}

TEST(FramePipeline, ThreadsFollowTheOptionTheCoresAndTheFrameCount) {
    RunConfig config;
    config.frameCount = 100;
    const int32_t cores = std::max<int32_t>(std::thread::hardware_concurrency(), 1);
    EXPECT_EQ(effectiveThreads(config, config.frameCount), std::min(cores, 100));
    config.threads = -4;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), std::min(cores, 100));
    config.threads = 6;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), 6);
    config.threads = 100000;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), 100);
    config.frameCount = 1000;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), kMaxThreads);
    config.frameCount = 3;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), 3);
    config.frameCount = 0;
    EXPECT_EQ(effectiveThreads(config, config.frameCount), 1);
}

}  // namespace
}  // namespace vanto
