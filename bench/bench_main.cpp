// Per-stage timings of the whole frame pipeline on a generated series.
// Usage: vanto_bench [--width W] [--height H] [--cells K] [--frames N] [--seed S]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "compute/compute_device.h"
#include "export/track_exports.h"
#include "image/canvas.h"
#include "image/frame_loader.h"
#include "measure/frame_report.h"
#include "measure/voronoi_image.h"
#include "measure/voronoi_neighbours.h"
#include "model/clock.h"
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

namespace {

using namespace vanto;

struct Stage {
    const char* name;
    double totalMs = 0;
    int runs = 0;
};

class StageClock {
public:
    template <typename F>
    void time(const char* name, F&& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        auto it = std::find_if(stages_.begin(), stages_.end(), [&](const Stage& s) { return s.name == name; });
        if (it == stages_.end()) it = stages_.insert(stages_.end(), Stage{name});
        it->totalMs += ms;
        ++it->runs;
    }

    void print(int frames) const {
        double sum = 0;
        std::printf("%-22s %10s %8s\n", "stage", "ms/frame", "runs");
        for (const Stage& s : stages_) {
            std::printf("%-22s %10.3f %8d\n", s.name, s.totalMs / frames, s.runs);
            sum += s.totalMs;
        }
        std::printf("%-22s %10.3f\n", "frame total", sum / frames);
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

int argument(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    SeriesParams params;
    params.width = argument(argc, argv, "--width", 1024);
    params.height = argument(argc, argv, "--height", 768);
    params.cellCount = argument(argc, argv, "--cells", 300);
    params.seed = static_cast<uint64_t>(argument(argc, argv, "--seed", 1));
    const int frames = argument(argc, argv, "--frames", 10);
    const int32_t threshold = suggestedThreshold(params);
    const int32_t smallCellArea = suggestedSmallCellArea(params);

    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vanto-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<uint8_t> pixels(static_cast<size_t>(params.width) * params.height);
    for (int j = 1; j <= frames; ++j) {
        renderSyntheticFrame(params, j, pixels.data());
        writeGrayPng((dir / ("f_" + std::to_string(j) + ".png")).c_str(), params.width, params.height, pixels.data());
    }

    Workspace ws;
    if (!ws.reserve(params.width, params.height)) {
        std::cerr << "cannot reserve " << ws.requestedBytes() << " bytes\n";
        return 1;
    }
    buildNeighbourhoodTables(ws.tables, ws.scratchInts, ws.scratchInts + kWindowOffsets, ws.sortStack,
                             ws.sortStackRanges);
    Canvas canvas;
    canvas.createCanvas(params.width, params.height);
    ComputeDevice device;
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    if (!device.open((exe.parent_path() / "kernel3.cl").string(), params.width, params.height, std::cout)) {
        std::cerr << device.error() << "\n";
        return 1;
    }
    std::ofstream cellReport(dir / "_cell.csv"), averageReport(dir / "_average.csv");
    writeAverageReportHeader(averageReport);
    writeCellReportHeader(cellReport);
    // The track outputs (-ctc and -tracks), timed as their own stage.
    RunConfig exportConfig;
    exportConfig.outputDir = dir.string();
    exportConfig.ctcDir = (dir / "ctc").string();
    exportConfig.writeTracks = true;
    exportConfig.frameCount = frames;
    exportConfig.frameWidth = params.width;
    exportConfig.frameHeight = params.height;
    TrackExports exports;
    RunRecord record;
    std::string exportError;
    if (!TrackExports::checkOptions(exportConfig, exportError) ||
        !exports.open(exportConfig, record, std::cerr, exportError)) {
        std::cerr << exportError << "\n";
        return 1;
    }

    std::printf("series %d x %d, %d cells, %d frames, threshold %d, size %d\n", params.width, params.height,
                params.cellCount, frames, threshold, smallCellArea);
    StageClock clock;
    bool ok = true;
    int cells = 0, links = 0;
    for (int32_t j = 1; j <= frames && ok; ++j) {
        const int64_t startMark = monotonicMs();
        ws.curCount = ws.regionCount = ws.linkCount = ws.voronoiPairCount = 0;
        int32_t* slot = ws.slotOfFrame(j);
        std::fill_n(slot, kSlotWords, -1);
        const std::string path = (dir / ("f_" + std::to_string(j) + ".png")).string();
        clock.time("load", [&] { loadFrame(canvas, path.c_str(), 0, 0); });
        clock.time("depth map", [&] { computeDepthMap(ws, canvas.gray.data()); });
        clock.time("foreground mask", [&] { buildForegroundMask(ws, threshold); });
        clock.time("neck cut", [&] { cutNecksAndLabel(ws); });
        clock.time("region completion", [&] { completeRegions(ws); });
        clock.time("cell table", [&] { ok = buildCellTable(ws, smallCellArea) < kCellLimit; });
        if (!ok) break;
        if (j > 1) {
            clock.time("addtwo", [&] {
                ok = device.runAddTwo(ws.prevFrameLabels, ws.segLabels, ws.tables, ws.maskPlane, ws.workPlane);
            });
            clock.time("link candidates", [&] { ok = ok && listLinkCandidates(ws, slot) < kLinkLimit; });
            if (!ok) break;
            clock.time("link resolution", [&] { resolveLinks(ws, slot); });
            clock.time("absorb fragments", [&] { absorbUnlinkedFragments(ws); });
        }
        clock.time("relabel, fill holes", [&] { relabelAndFillHoles(ws); });
        clock.time("final cells", [&] { ok = labelFinalCells(ws, smallCellArea) < kCellLimit; });
        if (!ok) break;
        clock.time("identities", [&] { carryIdentities(ws, slot); });
        clock.time("calculation image", [&] {
            drawCalculationImage(canvas, ws, j, true);
            canvas.writeBmp((dir / "calc.bmp").c_str());
        });
        clock.time("addone", [&] { ok = device.runAddOne(ws.cellTable, ws.nearestCellMap); });
        clock.time("voronoi neighbours", [&] { countVoronoiNeighbours(ws); });
        clock.time("voronoi image", [&] {
            drawVoronoiImage(canvas, ws);
            canvas.writeBmp((dir / "voronoi.bmp").c_str());
        });
        clock.time("reports", [&] { reportFrame(ws, j, startMark, cellReport, averageReport); });
        clock.time("track exports", [&] { ok = exports.frame(ws, j, exportError); });
        cells += ws.finalCount;
        links += ws.linkCount;
        ws.exchangeFrames();
    }
    clock.time("track exports", [&] { ok = exports.finish(false, exportError) && ok; });
    fs::remove_all(dir);
    if (!ok) {
        std::cerr << "the series stopped the run (limits or compute failure)\n";
        return 1;
    }
    std::printf("mean cells per frame %.1f, mean links per frame %.1f\n", double(cells) / frames,
                double(links) / frames);
    clock.print(frames);
    const double exportsMs = clock.totalOf("track exports");
    std::printf("track exports add %.1f %% to the rest of the frame pipeline\n",
                100.0 * exportsMs / (clock.total() - exportsMs));
    return 0;
}
