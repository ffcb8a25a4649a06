// Per-stage timings of the whole frame pipeline on a generated series, the literal depth map
// against the linear one, addtwo with and without its pruning, PNG decoding by libpng and the
// fast way, whole runs on 1 thread and on the default threads with reports only and with every
// output, start-up alone with and without the kernel program cache, and peak memory; then the
// growth of a frame's cost with its pixels (up to 4,096 x 4,096) and with its cells, the cost
// per pixel and per cell, and, when asked, a long series of small frames. Then the cost of the
// cell options (-smooth, -split, -grow, -min-contrast, the area range), in segmentation alone and
// in whole runs; --options-only gives only that.
// Usage: vanto_bench [--width W] [--height H] [--cells K] [--frames N] [--seed S]
//                    [--min-radius R] [--max-radius R] [--growth-frames N] [--growth 0]
//                    [--large 0] [--series N] [--options-only]
#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "cell_option_costs.h"
#include "child_usage.h"
#include "compute/compute_device.h"
#include "compute/label_reach.h"
#include "export/track_exports.h"
#include "image/canvas.h"
#include "image/frame_decode.h"
#include "image/frame_loader.h"
#include "literal_depth_map.h"
#include "measure/frame_report.h"
#include "measure/voronoi_image.h"
#include "measure/voronoi_neighbours.h"
#include "model/clock.h"
#include "model/segment_scratch.h"
#include "model/workspace.h"
#include "segment/cell_table.h"
#include "segment/depth_map.h"
#include "segment/foreground_mask.h"
#include "segment/neck_cut.h"
#include "segment/neighbourhood.h"
#include "segment/region_completion.h"
#include "synthetic_series.h"
#include "track/calculation_image.h"
#include "track/final_cells.h"
#include "track/fragment_merge.h"
#include "track/identity.h"
#include "track/link_candidates.h"
#include "track/link_resolution.h"
#include "track/scratch_regions.h"

namespace {

using namespace vanto;

struct Stage {
    const char* name;
    double totalMs = 0;
    double cpuMs = 0;
    int runs = 0;
};

// Processor time of the whole process (the compute runtime's threads included), which a
// machine shared with other work disturbs less than the wall clock.
double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

class StageClock {
public:
    template <typename F>
    void time(const char* name, F&& work) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuMs();
        work();
        const double cpu = processCpuMs() - cpuStart;
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        auto it = std::find_if(stages_.begin(), stages_.end(), [&](const Stage& s) { return s.name == name; });
        if (it == stages_.end()) it = stages_.insert(stages_.end(), Stage{name});
        it->totalMs += ms;
        it->cpuMs += cpu;
        ++it->runs;
    }

    void print(int frames) const {
        double sum = 0, cpuSum = 0;
        std::printf("%-22s %10s %10s %8s\n", "stage", "ms/frame", "cpu ms", "runs");
        for (const Stage& s : stages_) {
            std::printf("%-22s %10.3f %10.3f %8d\n", s.name, s.totalMs / frames, s.cpuMs / frames, s.runs);
            sum += s.totalMs;
            cpuSum += s.cpuMs;
        }
        std::printf("%-22s %10.3f %10.3f\n", "frame total", sum / frames, cpuSum / frames);
    }

    // Milliseconds of the named stage over all frames, and of all stages.
    double totalOf(const char* name) const {
        double sum = 0;
        for (const Stage& s : stages_) sum += std::strcmp(s.name, name) == 0 ? s.totalMs : 0;
        return sum;
    }
    double total() const {
        double sum = 0;
        for (const Stage& s : stages_) sum += s.totalMs;
        return sum;
    }

private:
    std::vector<Stage> stages_;
};

// Milliseconds per frame of a whole run of the program (the built vanto beside this benchmark)
// on the series; stdout and stderr go to files in out.
double wholeRunMs(const std::string& program, const std::string& pattern, const SeriesParams& params, int frames,
                  int32_t threshold, int32_t smallCellArea, const std::string& out, const char* threads,
                  const std::vector<std::string>& extra = {}, char** environment = environ,
                  double* cpuMs = nullptr, double* peakMiB = nullptr) {
    std::filesystem::create_directories(out);
    std::vector<std::string> words = {program,      "-source",      pattern,
                                      "-w",         std::to_string(params.width),
                                      "-h",         std::to_string(params.height),
                                      "-count",     std::to_string(frames),
                                      "-threshold", std::to_string(threshold),
                                      "-size",      std::to_string(smallCellArea),
                                      "-output",    out};
    if (threads != nullptr) {
        words.push_back("-threads");
        words.push_back(threads);
    }
    words.insert(words.end(), extra.begin(), extra.end());
    const ChildUsage usage = runMeasured(words, environment, out + "/console.txt", out + "/errors.txt");
    if (cpuMs) *cpuMs = usage.cpuMs;
    if (peakMiB) *peakMiB = usage.peakMiB;
    if (usage.status != 0) {
        std::cerr << "whole run of " << program << " failed (see " << out << ")\n";
        return -1;
    }
    return usage.wallMs / frames;
}

// Both depth maps of each frame once more, outside the stage figures, for their ratio.
struct DepthMapRatio {
    explicit DepthMapRatio(const SeriesParams& params)
        : width(params.width), height(params.height), depth(static_cast<size_t>(width) * height) {}

    // False when the linear depth map differs from the literal one.
    bool compare(SegmentScratch& seg, const uint8_t* gray) {
        const auto t0 = std::chrono::steady_clock::now();
        literal.compute(seg.tables, gray, width, height, depth.data());
        const auto t1 = std::chrono::steady_clock::now();
        computeDepthMap(seg, gray);
        const auto t2 = std::chrono::steady_clock::now();
        literalMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
        linearMs += std::chrono::duration<double, std::milli>(t2 - t1).count();
        return std::equal(depth.begin(), depth.end(), seg.depthPlane);
    }

    int32_t width, height;
    LiteralDepthMap literal;
    std::vector<int32_t> depth;
    double literalMs = 0, linearMs = 0;
};

// addtwo once more without and once with its pruning, outside the stage figures, for their
// ratio; both must give what the run's own call gave. The host's share of the pruned run (the
// tile starts) is timed on its own as well.
struct AddTwoRatio {
    explicit AddTwoRatio(const SeriesParams& params)
        : a(static_cast<size_t>(params.width) * params.height), b(a.size()) {
        reach.reserve(params.width, params.height);
    }

    // False when a run fails or differs from the results given.
    bool compare(ComputeDevice& device, const Workspace& ws, const CrossFrameNearest& given) {
        bool same = true;
        for (const bool prune : {false, true}) {
            device.setAddTwoPruning(prune);
            const auto t0 = std::chrono::steady_clock::now();
            const double cpu0 = processCpuMs();
            same = device.nearestLabelsAcrossFrames(ws.history.prevFrameLabels, ws.cells.segLabels, ws.tables,
                                                    a.data(), b.data()).ok() && same;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            (prune ? prunedMs : plainMs) += ms;
            (prune ? prunedCpuMs : plainCpuMs) += processCpuMs() - cpu0;
            same = same && std::equal(a.begin(), a.end(), given.curNearPrev) &&
                   std::equal(b.begin(), b.end(), given.prevNearCur);
        }
        device.setAddTwoPruning(false);  // the run's own setting
        // The host's share of the pruned run: the tile starts alone.
        const double cpu0 = processCpuMs();
        reach.build(ws.history.prevFrameLabels, ws.cells.segLabels, ws.tables);
        startsCpuMs += processCpuMs() - cpu0;
        return same;
    }

    std::vector<int32_t> a, b;
    LabelReach reach;
    double plainMs = 0, prunedMs = 0, plainCpuMs = 0, prunedCpuMs = 0, startsCpuMs = 0;
};

// What the timed stages after segmentation write to.
struct TrackOutputs {
    Canvas& canvas;
    std::vector<uint8_t>& idsDrawn;
    std::ostream& cellReport;
    std::ostream& averageReport;
    TrackExports& exports;
    std::string& exportError;
    std::filesystem::path dir;
    AddTwoRatio& addTwoRatio;
};

// The timed stages of frame j after segmentation, called as a run calls them; false when a
// limit, the compute device or an export stops the series.
bool timeTrackingStages(StageClock& clock, Workspace& ws, ComputeDevice& device, TrackOutputs& out, int32_t j,
                        int32_t smallCellArea, int64_t startMark) {
    FrameCells& cells = ws.cells;
    FrameHistory& history = ws.history;
    TrackScratch& scratch = ws.scratch;
    int32_t* slot = history.slotOfFrame(j);
    bool ok = true;
    if (j > 1) {
        clock.time("addtwo", [&] {
            const CrossFrameNearest nearest = scratch.crossFrameNearest();
            ok = device.nearestLabelsAcrossFrames(history.prevFrameLabels, cells.segLabels, ws.tables,
                                                  nearest.curNearPrev, nearest.prevNearCur).ok();
        });
        if (ok && !out.addTwoRatio.compare(device, ws, scratch.crossFrameNearest())) {
            std::cerr << "frame " << j << ": addtwo differs with and without its pruning\n";
            return false;
        }
        clock.time("link candidates", [&] {
            int32_t* linkList = scratch.scratchInts + ScratchRegion::queue;
            ok = ok && listLinkCandidates(cells, history, scratch.crossFrameNearest(), linkList, slot) < kLinkLimit;
        });
        if (!ok) return false;
        clock.time("link resolution", [&] { resolveLinks(cells, history, scratch, slot); });
        clock.time("absorb fragments", [&] { absorbUnlinkedFragments(cells); });
    }
    clock.time("relabel, fill holes", [&] { relabelAndFillHoles(cells, scratch.holeFill(), ws.tables); });
    clock.time("final cells",
               [&] { ok = labelFinalCells(cells, scratch.scratchInts, smallCellArea) < kCellLimit; });
    if (!ok) return false;
    clock.time("identities", [&] { carryIdentities(cells, history, finalLabelMap(cells), scratch, slot); });
    clock.time("calculation image", [&] {
        drawCalculationImage(out.canvas, cells, history, j, true, out.idsDrawn.data());
        (void)out.canvas.writeBmp((out.dir / "calc.bmp").c_str());
    });
    clock.time("addone", [&] { ok = device.nearestCellMap(cells.cellTable, cells.nearestCellMap).ok(); });
    if (!ok) return false;
    clock.time("voronoi neighbours", [&] { countVoronoiNeighbours(cells, ws.tables); });
    clock.time("voronoi image", [&] {
        drawVoronoiImage(out.canvas, cells);
        (void)out.canvas.writeBmp((out.dir / "voronoi.bmp").c_str());
    });
    clock.time("reports",
               [&] { reportFrame(cells, history, scratch, j, startMark, out.cellReport, out.averageReport); });
    clock.time("track exports", [&] {
        Status exported = out.exports.frame(cells, history, j);
        out.exports.tellWarning();
        if (exported.ok() && out.exports.maskDue()) exported = out.exports.writeMask(cells, j);
        ok = exported.ok();
        if (ok) out.exports.commitFrame();
        else out.exportError = exported.detail;
    });
    return ok;
}

int argument(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

// Writes the synthetic series as f_1.png .. f_<frames>.png into dir.
void writeSeries(const SeriesParams& params, int frames, const std::filesystem::path& dir) {
    std::vector<uint8_t> pixels(static_cast<size_t>(params.width) * params.height);
    for (int j = 1; j <= frames; ++j) {
        renderSyntheticFrame(params, j, pixels.data());
        writeGrayPng((dir / ("f_" + std::to_string(j) + ".png")).c_str(), params.width, params.height, pixels.data());
    }
}

// Opens the track outputs of -ctc and -tracks into dir; false with error set when refused.
bool openExports(TrackExports& exports, RunRecord& record, const SeriesParams& params, int frames,
                 const std::filesystem::path& dir, std::string& error) {
    RunConfig config;
    config.outputDir = dir.string();
    config.ctcDir = (dir / "ctc").string();
    config.writeTracks = true;
    config.frameCount = frames;
    config.frameWidth = params.width;
    config.frameHeight = params.height;
    if (!CtcExport::createFolder(config.ctcDir, error)) return false;
    const Status opened = exports.open(config, Calibration{}, frames, record, std::cerr);
    error = opened.detail;
    return opened.ok();
}

// Times whole runs of the vanto beside exe on the series in dir, interleaved: 1 thread and
// the default threads, reports only and every output on; then start-up alone, with the kernel
// program from vanto's cache and built afresh; then peak memory.
void printWholeRuns(const std::filesystem::path& exe, const std::filesystem::path& dir, const SeriesParams& params,
                    int frames, int32_t threshold, int32_t smallCellArea) {
    const std::string pattern = (dir / "f_%d.png").string();
    const std::string program = (exe.parent_path() / "vanto").string();
    const auto everyOutput = [&](const std::string& out) {
        std::filesystem::create_directories(out + "/ctc");
        return std::vector<std::string>{"-image", "-id", "-voronoi", "-ctc", out + "/ctc", "-tracks"};
    };
    constexpr int kRounds = 2;
    double ms[2][2] = {};  // [threads default][every output]
    double peak[2] = {};   // [threads default], the largest of its runs
    int n = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int all = 0; all < 2; ++all) {
            for (int threads = 0; threads < 2; ++threads) {
                const std::string out = (dir / ("run" + std::to_string(n++))).string();
                double onePeak = 0;
                const double one = wholeRunMs(program, pattern, params, frames, threshold, smallCellArea, out,
                                              threads ? nullptr : "1", all ? everyOutput(out) : std::vector<std::string>{},
                                              environ, nullptr, &onePeak);
                ms[threads][all] += one / kRounds;
                peak[threads] = std::max(peak[threads], onePeak);
                std::filesystem::remove_all(out);
            }
        }
    }
    std::printf("\nwhole runs of %d frames, ms per frame (start-up included), mean of %d interleaved rounds:\n", frames,
                kRounds);
    std::printf("%-28s %12s %12s %8s\n", "", "1 thread", "default", "ratio");
    for (int all = 0; all < 2; ++all) {
        std::printf("%-28s %12.3f %12.3f %8.2f\n", all ? "every output on" : "reports only", ms[0][all], ms[1][all],
                    ms[1][all] / ms[0][all]);
    }
    std::printf("%-28s %12.2f %12.2f\n", "every output / reports only", ms[0][1] / ms[0][0], ms[1][1] / ms[1][0]);

    // Start-up alone: a one-frame run less one frame's marginal time (from the runs above), with
    // vanto's program cache (filled by the runs above) and with none (VANTO_CACHE_DIR empty).
    std::vector<std::string> plainEnvironment;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "VANTO_CACHE_DIR=", 16) != 0) plainEnvironment.push_back(*e);
    }
    plainEnvironment.push_back("VANTO_CACHE_DIR=");
    std::vector<char*> noCache;
    for (std::string& e : plainEnvironment) noCache.push_back(e.data());
    noCache.push_back(nullptr);
    double oneFrame[2] = {}, oneFrameCpu[2] = {}, emptyCpu[2] = {};  // [no cache]
    constexpr int kStarts = 5;
    for (int i = 0; i < kStarts; ++i) {
        for (int cache = 0; cache < 2; ++cache) {
            const std::string out = (dir / ("start" + std::to_string(i) + std::to_string(cache))).string();
            double cpu = 0;
            oneFrame[cache] += wholeRunMs(program, pattern, params, 1, threshold, smallCellArea, out, "1", {},
                                          cache ? noCache.data() : environ, &cpu) /
                               kStarts;
            oneFrameCpu[cache] += cpu / kStarts;
            // The same run with a frame of one pixel: start-up and almost nothing else.
            SeriesParams tiny = params;
            tiny.width = tiny.height = 1;
            std::filesystem::remove_all(out);
            wholeRunMs(program, pattern, tiny, 1, threshold, smallCellArea, out, "1", {},
                       cache ? noCache.data() : environ, &cpu);
            emptyCpu[cache] += cpu / kStarts;
            std::filesystem::remove_all(out);
        }
    }
    // ms[0][0] = start / frames + marginal, and a one-frame run = start + marginal.
    const double marginal = frames > 1 ? (ms[0][0] * frames - oneFrame[0]) / (frames - 1) : 0;
    std::printf("start-up alone (a one-frame run less one frame of %.3f ms), mean of %d: %.3f ms with the kernel "
                "program cache, %.3f ms building the program (%.2f x)\n",
                marginal, kStarts, oneFrame[0] - marginal, oneFrame[1] - marginal,
                (oneFrame[0] - marginal) / std::max(oneFrame[1] - marginal, 1e-9));
    std::printf("processor ms of a one-frame run: %.3f with the cache, %.3f building (%.2f x); of a run on a "
                "one-pixel window of it (start-up, nearly alone): %.3f and %.3f (%.2f x)\n",
                oneFrameCpu[0], oneFrameCpu[1], oneFrameCpu[0] / std::max(oneFrameCpu[1], 1e-9), emptyCpu[0],
                emptyCpu[1], emptyCpu[0] / std::max(emptyCpu[1], 1e-9));

    std::printf("peak memory of a whole run (its largest resident set): %.1f MiB on 1 thread, %.1f MiB on the "
                "default threads\n",
                peak[0], peak[1]);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory of this benchmark %.1f MiB\n", usage.ru_maxrss / 1024.0);
}

// A generated series on disk for the growth figures: frames f_1.png .. f_<frames>.png in dir.
struct GrowthSeries {
    SeriesParams params;
    int frames = 0;
    std::filesystem::path dir;
};

// Writes a series of width x height with the given cells (the other parameters as in base)
// into its own folder under root.
GrowthSeries makeSeries(const SeriesParams& base, int32_t width, int32_t height, int32_t cells, int frames,
                        const std::filesystem::path& root) {
    GrowthSeries series{base, frames, root / ("s" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                                              std::to_string(cells) + "-" + std::to_string(frames))};
    series.params.width = width;
    series.params.height = height;
    series.params.cellCount = cells;
    std::filesystem::create_directories(series.dir);
    writeSeries(series.params, frames, series.dir);
    return series;
}

// What a frame of a series costs a whole run, start-up taken out: a run of all its frames less
// a run of its first frame, per further frame.
struct FrameCost {
    double wallMs = 0;   // wall milliseconds per frame
    double cpuMs = 0;    // processor milliseconds per frame (the compute runtime's threads included)
    double peakMiB = 0;  // largest resident set of the run of all frames
    double cells = 0;    // cells reported per frame
    int64_t pixels = 0;  // of a frame
    bool ok = true;
};

// Data rows of a report (its one header line left out); 0 when it cannot be read.
long reportRows(const std::filesystem::path& path) {
    std::ifstream in(path);
    long lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return std::max(0L, lines - 1);
}

// The cost of a frame of series with reports only, on 1 thread (threads "1") or the default
// threads (nullptr); the outputs go to a scratch folder removed afterwards.
FrameCost measureFrameCost(const std::string& program, const GrowthSeries& series, const char* threads) {
    const std::string pattern = (series.dir / "f_%d.png").string();
    const int32_t threshold = suggestedThreshold(series.params);
    const int32_t smallCellArea = suggestedSmallCellArea(series.params);
    const std::filesystem::path out = series.dir / "out";
    FrameCost cost;
    double allCpu = 0, oneCpu = 0, onePeak = 0;
    const double all = wholeRunMs(program, pattern, series.params, series.frames, threshold, smallCellArea,
                                  out.string(), threads, {}, environ, &allCpu, &cost.peakMiB);
    cost.cells = static_cast<double>(reportRows(out / "_cell.csv")) / series.frames;
    std::filesystem::remove_all(out);
    const double one = wholeRunMs(program, pattern, series.params, 1, threshold, smallCellArea, out.string(),
                                  threads, {}, environ, &oneCpu, &onePeak);
    std::filesystem::remove_all(out);
    const int further = std::max(series.frames - 1, 1);
    cost.pixels = static_cast<int64_t>(series.params.width) * series.params.height;
    cost.ok = all >= 0 && one >= 0;
    cost.wallMs = (all * series.frames - one) / further;
    cost.cpuMs = (allCpu - oneCpu) / further;
    return cost;
}

// The costs of each series, measured in interleaved rounds (means of the times, the largest
// peak).
std::vector<FrameCost> measureInterleaved(const std::string& program, const std::vector<GrowthSeries>& series,
                                          const char* threads, int rounds) {
    std::vector<FrameCost> costs(series.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < series.size(); ++i) {
            const FrameCost one = measureFrameCost(program, series[i], threads);
            costs[i].wallMs += one.wallMs / rounds;
            costs[i].cpuMs += one.cpuMs / rounds;
            costs[i].peakMiB = std::max(costs[i].peakMiB, one.peakMiB);
            costs[i].cells = one.cells;
            costs[i].pixels = one.pixels;
            costs[i].ok = costs[i].ok && one.ok;
        }
    }
    return costs;
}

void printCostRow(const GrowthSeries& series, const FrameCost& cost, const char* threads) {
    std::printf("%5d x %-5d %6d %8.0f  %-8s %10.1f %10.1f %9.1f %8.2f%s\n", series.params.width,
                series.params.height, series.params.cellCount, cost.cells, threads ? "1" : "default", cost.wallMs,
                cost.cpuMs, cost.peakMiB, 1e6 * cost.cpuMs / static_cast<double>(std::max<int64_t>(cost.pixels, 1)),
                cost.ok ? "" : "  -- A RUN FAILED");
}

void printCostHeader() {
    std::printf("%-13s %6s %8s  %-8s %10s %10s %9s %8s\n", "frame", "cells", "reported", "threads", "wall ms",
                "cpu ms", "peak MiB", "cpu ns/px");
}

constexpr int kGrowthRounds = 2;

// Pixel growth: 1,024 x 768 with the base density of cells against 4 x the pixels at the same
// density, on 1 thread, in interleaved rounds; with large, 4,096 x 4,096 as well (1,500 cells,
// which the limit of 2,000 cells a frame allows; the base density would give about 6,400) on 1
// and the default threads. Returns the 1-thread costs of the two smaller frames and the
// largest frame's, in that order.
std::vector<FrameCost> printPixelGrowth(const std::string& program, const SeriesParams& base,
                                        const std::filesystem::path& root, int frames, bool large) {
    const std::vector<GrowthSeries> series = {makeSeries(base, 1024, 768, 300, frames, root),
                                              makeSeries(base, 2048, 1536, 1200, frames, root)};
    std::vector<FrameCost> costs = measureInterleaved(program, series, "1", kGrowthRounds);
    std::printf("\npixel growth: ms per frame of whole runs with reports only, start-up taken out (a run of %d "
                "frames less a run of one), mean of %d interleaved rounds:\n",
                frames, kGrowthRounds);
    printCostHeader();
    printCostRow(series[0], costs[0], "1");
    printCostRow(series[1], costs[1], "1");
    if (large) {
        const GrowthSeries largest = makeSeries(base, 4096, 4096, 1500, 3, root);
        const FrameCost one = measureFrameCost(program, largest, "1");
        const FrameCost all = measureFrameCost(program, largest, nullptr);
        printCostRow(largest, one, "1");
        printCostRow(largest, all, nullptr);
        std::filesystem::remove_all(largest.dir);
        costs.push_back(one);
    }
    std::printf("growth for 4 x the pixels (goal <= 4.2): %.2f wall, %.2f processor\n",
                costs[1].wallMs / std::max(costs[0].wallMs, 1e-9), costs[1].cpuMs / std::max(costs[0].cpuMs, 1e-9));
    for (const GrowthSeries& s : series) std::filesystem::remove_all(s.dir);
    return costs;
}

// Cell growth: 300 against 1,500 generated cells on the same frame, on 1 thread, in
// interleaved rounds. 2,048 x 1,536 keeps 1,500 cells of the usual size apart enough to stay
// cells (on 1,024 x 768 they crowd into blobs). Returns the two costs.
std::vector<FrameCost> printCellGrowth(const std::string& program, const SeriesParams& base,
                                       const std::filesystem::path& root, int frames) {
    const std::vector<GrowthSeries> series = {makeSeries(base, 2048, 1536, 300, frames, root),
                                              makeSeries(base, 2048, 1536, 1500, frames, root)};
    const std::vector<FrameCost> costs = measureInterleaved(program, series, "1", kGrowthRounds);
    std::printf("\ncell growth: the same measure, 300 against 1,500 generated cells on one frame size:\n");
    printCostHeader();
    printCostRow(series[0], costs[0], "1");
    printCostRow(series[1], costs[1], "1");
    std::printf("growth from 300 to 1,500 cells (goal <= 1.5): %.2f wall, %.2f processor (%.0f to %.0f cells "
                "reported a frame)\n",
                costs[1].wallMs / std::max(costs[0].wallMs, 1e-9), costs[1].cpuMs / std::max(costs[0].cpuMs, 1e-9),
                costs[0].cells, costs[1].cells);
    for (const GrowthSeries& s : series) std::filesystem::remove_all(s.dir);
    return costs;
}

// The cost of a frame on 1 thread as a pixels + b cells: b from the two cell counts on one
// frame size, a from the largest frame measured less its cells.
void printCostModel(const std::vector<FrameCost>& pixelCosts, const std::vector<FrameCost>& cellCosts) {
    const double cells = std::max(cellCosts[1].cells - cellCosts[0].cells, 1.0);
    const double wallPerCell = (cellCosts[1].wallMs - cellCosts[0].wallMs) / cells;
    const double cpuPerCell = (cellCosts[1].cpuMs - cellCosts[0].cpuMs) / cells;
    const FrameCost& largest = pixelCosts.back();
    const double pixels = static_cast<double>(std::max<int64_t>(largest.pixels, 1));
    const double wallPerPixel = (largest.wallMs - wallPerCell * largest.cells) / pixels;
    const double cpuPerPixel = (largest.cpuMs - cpuPerCell * largest.cells) / pixels;
    std::printf("cost of a frame on 1 thread: %.1f ns a pixel and %.1f us a reported cell of wall time, %.1f ns and "
                "%.1f us of processor time\n",
                1e6 * wallPerPixel, 1e3 * wallPerCell, 1e6 * cpuPerPixel, 1e3 * cpuPerCell);
}

// A long series of small frames (256 x 192, 19 cells: the base density) with reports only on
// the default threads: frames and a tenth of them, ms per frame between the two runs and the
// peak memory of each.
void printLongSeries(const std::string& program, const SeriesParams& base, const std::filesystem::path& root,
                     int frames) {
    const GrowthSeries series = makeSeries(base, 256, 192, 19, frames, root);
    const std::string pattern = (series.dir / "f_%d.png").string();
    const int32_t threshold = suggestedThreshold(series.params);
    const int32_t smallCellArea = suggestedSmallCellArea(series.params);
    const std::string out = (series.dir / "out").string();
    const int counts[2] = {std::max(frames / 10, 1), frames};
    double wall[2] = {}, cpu[2] = {}, peak[2] = {};
    for (int i = 0; i < 2; ++i) {
        wall[i] = wholeRunMs(program, pattern, series.params, counts[i], threshold, smallCellArea, out, nullptr, {},
                             environ, &cpu[i], &peak[i]) * counts[i];
        std::filesystem::remove_all(out);
    }
    const int further = std::max(counts[1] - counts[0], 1);
    std::printf("\nlong series, 256 x 192 with 19 cells, reports only, default threads: %d frames %.3f ms a frame "
                "(%.3f processor) between the runs of %d and %d frames; peak memory %.1f MiB and %.1f MiB (%.2f x)%s\n",
                frames, (wall[1] - wall[0]) / further, (cpu[1] - cpu[0]) / further, counts[0], counts[1], peak[0],
                peak[1], peak[1] / std::max(peak[0], 1e-9), wall[0] < 0 || wall[1] < 0 ? " -- A RUN FAILED" : "");
    std::filesystem::remove_all(series.dir);
}

// The date, the processors this process may use and the load average, for the figures' record.
void printMachine(const char* when) {
    const std::time_t now = std::time(nullptr);
    char date[32] = "";
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::ifstream loadFile("/proc/loadavg");
    std::string one, five, fifteen;
    loadFile >> one >> five >> fifteen;
    std::printf("%s: %s, %ld processors online, load average %s %s %s\n", when, date, sysconf(_SC_NPROCESSORS_ONLN),
                one.c_str(), five.c_str(), fifteen.c_str());
}

// Processor time per frame of whole runs on 1 thread with every cell option on and with none,
// interleaved: a run of every frame less a run of one frame, over the frames between, so that
// start-up drops out; the least of the rounds.
void printWholeRunOptionRatio(const std::filesystem::path& exe, const std::filesystem::path& dir,
                              const SeriesParams& params, int frames, int32_t threshold, int32_t smallCellArea) {
    if (frames < 2) return;
    const std::string pattern = (dir / "f_%d.png").string();
    const std::string program = (exe.parent_path() / "vanto").string();
    const std::vector<std::string> options[] = {
        {},
        {"-smooth", "1", "-split", "2", "-grow", "2", "-min-contrast", "20", "-min-area", "30", "-max-area", "5000"},
        {"-smooth", "1", "-split", "2", "-split-gray", "2", "-grow", "2", "-min-contrast", "20", "-min-area", "30",
         "-max-area", "5000"},
        {"-smooth", "1", "-split", "2", "-split-gray", "2", "-grow", "-2", "-min-contrast", "20", "-min-area", "30",
         "-max-area", "5000"},
        {"-smooth", "1", "-split", "2", "-split-gray", "2", "-grow", "-2", "-min-contrast", "20", "-min-area", "30",
         "-max-area", "5000", "-edge-cut", "0.5"}};
    constexpr int kSets = 5, kRounds = 3;
    double least[kSets];
    std::fill_n(least, kSets, 1e300);
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < kSets; ++k) {
            double cpu[2] = {};
            for (int whole = 0; whole < 2; ++whole) {
                const std::string out = (dir / ("options" + std::to_string(k) + std::to_string(whole))).string();
                wholeRunMs(program, pattern, params, whole ? frames : 1, threshold, smallCellArea, out, "1",
                           options[k], environ, &cpu[whole]);
                std::filesystem::remove_all(out);
            }
            least[k] = std::min(least[k], (cpu[1] - cpu[0]) / (frames - 1));
        }
    }
    std::printf("whole runs on 1 thread, processor ms per frame (start-up left out, least of %d interleaved rounds): "
                "no option %.3f, -smooth -split -grow 2 -min-contrast -min-area -max-area %.3f (%.3f x), the same "
                "with -split-gray %.3f (%.3f x), with -split-gray and -grow -2 %.3f (%.3f x), with -split-gray, -grow -2 "
                "and -edge-cut 0.5 %.3f (%.3f x)\n",
                kRounds, least[0], least[1], least[1] / least[0], least[2], least[2] / least[0], least[3],
                least[3] / least[0], least[4], least[4] / least[0]);
}

// Decodes each frame of the series with libpng alone and the fast way, interleaved, checks
// that they agree and prints both times.
void printPngDecoding(const std::filesystem::path& dir, const SeriesParams& params, int frames) {
    std::vector<float> values[2];
    std::vector<uint8_t> block, rows;
    DecodeScratch scratch{block, rows};
    double ms[2] = {};
    bool same = true;
    for (int round = 0; round < 3; ++round) {
        for (int j = 1; j <= frames; ++j) {
            const std::string path = (dir / ("f_" + std::to_string(j) + ".png")).string();
            for (int way = 0; way < 2; ++way) {
                values[way].assign(static_cast<size_t>(params.width) * params.height, 0);
                const auto t0 = std::chrono::steady_clock::now();
                const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                uint8_t signature[8];
                FrameFacts facts;
                const bool read = fd >= 0 && ::read(fd, signature, 8) == 8 &&
                                  readPngWindow(fd, {0, 0, params.width, params.height, values[way].data()}, scratch,
                                                facts, way ? PngPath::fastest : PngPath::libpngOnly)
                                      .ok();
                ms[way] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                same = same && read;
            }
            same = same && values[0] == values[1];
        }
    }
    std::printf("PNG decoding of a frame: libpng %.3f ms, libdeflate and own row filters %.3f ms (%.2f x)%s\n",
                ms[0] / (3 * frames), ms[1] / (3 * frames), ms[1] / std::max(ms[0], 1e-9),
                same ? "" : " -- THE TWO DIFFER");
}

// Reserves the workspace and the segmentation scratch as a run does and builds the run's
// tables; false, after saying so, when memory cannot be had.
bool reserveMemory(const SeriesParams& params, Workspace& ws, SegmentScratch& seg) {
    if (!ws.reserve(params.width, params.height)) {
        std::cerr << "cannot reserve " << ws.requestedBytes() << " bytes\n";
        return false;
    }
    TrackScratch& scratch = ws.scratch;
    buildNeighbourhoodTables(ws.tables, scratch.scratchInts, scratch.scratchInts + kWindowOffsets, scratch.sortStack,
                             scratch.sortStackRanges);
    if (!seg.reserve(params.width, params.height)) {
        std::cerr << "cannot reserve " << seg.requestedBytes() << " bytes\n";
        return false;
    }
    return true;
}

// Loads frame j and times each segmentation stage on it; returns the segmentation records
// written, or -1 when the linear depth map differs from the literal one.
int32_t timeSegmentationStages(StageClock& clock, SegmentScratch& seg, FrameReader& reader, DepthMapRatio& depthRatio,
                            Canvas& canvas, const std::string& path, const SeriesParams& params, int32_t threshold,
                            int32_t smallCellArea, int32_t j) {
    clock.time("load", [&] {
        (void)reader.load(path.c_str(), 0, 0, 0, params.width, params.height, GrayMapping{}, canvas.gray.data());
    });
    clock.time("depth map", [&] { computeDepthMap(seg, canvas.gray.data()); });
    if (!depthRatio.compare(seg, canvas.gray.data())) {
        std::cerr << "frame " << j << ": the linear depth map differs from the literal one\n";
        return -1;
    }
    clock.time("foreground mask", [&] { buildForegroundMask(seg, threshold); });
    clock.time("neck cut", [&] { cutNecksAndLabel(seg); });
    clock.time("region completion", [&] { completeRegions(seg); });
    int32_t count = 0;
    clock.time("cell table", [&] { count = buildCellTable(seg, smallCellArea); });
    return count;
}

// The synthetic series asked for on the command line.
SeriesParams seriesParams(int argc, char** argv) {
    SeriesParams params;
    params.width = argument(argc, argv, "--width", 1024);
    params.height = argument(argc, argv, "--height", 768);
    params.cellCount = argument(argc, argv, "--cells", 300);
    params.seed = static_cast<uint64_t>(argument(argc, argv, "--seed", 1));
    params.minRadius = argument(argc, argv, "--min-radius", params.minRadius);
    params.maxRadius = argument(argc, argv, "--max-radius", params.maxRadius);
    return params;
}

}  // namespace

// A folder of this benchmark's own, holding the generated series.
std::filesystem::path seriesFolder(const SeriesParams& params, int frames) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vanto-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    writeSeries(params, frames, dir);
    return dir;
}

// The cell options' costs alone (--options-only).
int optionCostsOnly(const SeriesParams& params, int frames, int32_t threshold, int32_t smallCellArea) {
    namespace fs = std::filesystem;
    const fs::path dir = seriesFolder(params, frames);
    Workspace ws;
    SegmentScratch seg(ws.tables);
    if (!reserveMemory(params, ws, seg)) return 1;
    std::printf("series %d x %d, %d cells, %d frames, threshold %d, size %d\n", params.width, params.height,
                params.cellCount, frames, threshold, smallCellArea);
    printCellOptionCosts(params, frames, threshold, smallCellArea, ws.tables);
    printWholeRunOptionRatio(fs::read_symlink("/proc/self/exe"), dir, params, frames, threshold, smallCellArea);
    fs::remove_all(dir);
    return 0;
}

bool flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

int main(int argc, char** argv) {
    printMachine("start");
    const SeriesParams params = seriesParams(argc, argv);
    const int frames = argument(argc, argv, "--frames", 10);
    const int32_t threshold = suggestedThreshold(params);
    const int32_t smallCellArea = suggestedSmallCellArea(params);
    if (flag(argc, argv, "--options-only")) return optionCostsOnly(params, frames, threshold, smallCellArea);

    namespace fs = std::filesystem;
    const fs::path dir = seriesFolder(params, frames);

    Workspace ws;
    SegmentScratch seg(ws.tables);
    if (!reserveMemory(params, ws, seg)) return 1;
    FrameCells& cells = ws.cells;
    Canvas canvas;
    canvas.createCanvas(params.width, params.height);
    ComputeDevice device;
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    if (!device.open((exe.parent_path() / "kernel3.cl").string(), params.width, params.height, std::cout).ok()) {
        std::cerr << device.error() << "\n";
        return 1;
    }
    std::ofstream cellReport(dir / "_cell.csv"), averageReport(dir / "_average.csv");
    writeAverageReportHeader(averageReport);
    writeCellReportHeader(cellReport);
    // The track outputs (-ctc and -tracks), timed as their own stage.
    TrackExports exports;
    RunRecord record;
    std::string exportError;
    if (!openExports(exports, record, params, frames, dir, exportError)) {
        std::cerr << exportError << "\n";
        return 1;
    }

    std::printf("series %d x %d, %d cells, %d frames, threshold %d, size %d\n", params.width, params.height,
                params.cellCount, frames, threshold, smallCellArea);
    StageClock clock;
    FrameReader reader;  // kept across frames, as each pipeline thread keeps its own
    DepthMapRatio depthRatio(params);
    bool ok = true;
    int cellSum = 0, linkSum = 0;
    AddTwoRatio addTwoRatio(params);
    std::vector<uint8_t> idsDrawn(kCellLimit);
    TrackOutputs outputs{canvas, idsDrawn, cellReport, averageReport, exports, exportError, dir, addTwoRatio};
    for (int32_t j = 1; j <= frames && ok; ++j) {
        const int64_t startMark = monotonicMs();
        ws.beginFrame(j);  // as the run starts each frame
        seg.regionCount = 0;
        seg.segLabels = cells.segLabels;
        seg.cellTable = cells.cellTable;
        const std::string path = (dir / ("f_" + std::to_string(j) + ".png")).string();
        cells.curCount = timeSegmentationStages(clock, seg, reader, depthRatio, canvas, path, params, threshold,
                                                smallCellArea, j);
        ok = cells.curCount >= 0 && cells.curCount < kCellLimit;
        if (!ok) break;
        if (!timeTrackingStages(clock, ws, device, outputs, j, smallCellArea, startMark)) {
            ok = false;
            break;
        }
        cellSum += cells.finalCount;
        linkSum += cells.linkCount;
        ws.exchangeFrames();
    }
    clock.time("track exports", [&] { ok = exports.finish(false).empty() && ok; });
    if (!ok) {
        fs::remove_all(dir);
        std::cerr << "the series stopped the run (limits or compute failure)\n";
        return 1;
    }
    std::printf("mean cells per frame %.1f, mean links per frame %.1f\n", double(cellSum) / frames,
                double(linkSum) / frames);
    clock.print(frames);
    const double exportsMs = clock.totalOf("track exports");
    std::printf("track exports add %.1f %% to the rest of the frame pipeline\n",
                100.0 * exportsMs / (clock.total() - exportsMs));
    std::printf("\ndepth map: literal sort-and-sweep %.3f ms/frame, linear %.3f ms/frame, ratio %.1f\n",
                depthRatio.literalMs / frames, depthRatio.linearMs / frames,
                depthRatio.literalMs / std::max(depthRatio.linearMs, 1e-9));

    const AddTwoRatio& r2 = addTwoRatio;
    std::printf("addtwo: unpruned %.3f ms/frame (cpu %.3f), pruned %.3f ms/frame (cpu %.3f, of which the tile starts "
                "%.3f), ratio %.2f (cpu %.2f)\n",
                r2.plainMs / frames, r2.plainCpuMs / frames, r2.prunedMs / frames, r2.prunedCpuMs / frames,
                r2.startsCpuMs / frames, r2.prunedMs / std::max(r2.plainMs, 1e-9),
                r2.prunedCpuMs / std::max(r2.plainCpuMs, 1e-9));

    printPngDecoding(dir, params, frames);
    printWholeRuns(exe, dir, params, frames, threshold, smallCellArea);
    const std::string program = (exe.parent_path() / "vanto").string();
    if (argument(argc, argv, "--growth", 1) != 0) {
        const int growthFrames = std::max(argument(argc, argv, "--growth-frames", 6), 2);
        const std::vector<FrameCost> pixelCosts =
            printPixelGrowth(program, params, dir, growthFrames, argument(argc, argv, "--large", 1) != 0);
        const std::vector<FrameCost> cellCosts = printCellGrowth(program, params, dir, growthFrames);
        printCostModel(pixelCosts, cellCosts);
    }
    if (const int longFrames = argument(argc, argv, "--series", 0); longFrames > 0) {
        printLongSeries(program, params, dir, longFrames);
    }
    printCellOptionCosts(params, frames, threshold, smallCellArea, ws.tables);
    printWholeRunOptionRatio(exe, dir, params, frames, threshold, smallCellArea);
    printMachine("end");
    fs::remove_all(dir);
    return 0;
}
