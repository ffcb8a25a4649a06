#include "cell_option_costs.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

#include "model/frame_in_flight.h"
#include "model/run_config.h"
#include "model/segment_scratch.h"
#include "segment/segmentation.h"

namespace vanto {

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct OptionSet {
    const char* name;
    double smooth = 0, split = 0, minContrast = 0;
    int32_t grow = 0, minArea = 0, maxArea = 0;
    double edgeCut = 0;
    double splitGray = 0;
    double halo = 0;
    int32_t haloCells = 0;
};

// The options as a run would give them; the first set is the frame without any.
const OptionSet kSets[] = {
    {"no option"},
    {"-smooth 1", 1},
    {"-split 2", 0, 2},
    {"-grow 2", 0, 0, 0, 2},
    {"-grow -2", 0, 0, 0, -2},
    {"-min-contrast 20", 0, 0, 20},
    {"-min-area 30 -max-area 5000", 0, 0, 0, 0, 30, 5000},
    {"-edge-cut 0.5", 0, 0, 0, 0, 0, 0, 0.5},
    {"-split-gray 2", 0, 0, 0, 0, 0, 0, 0, 2},
    {"-halo 25 -halo-cells 20", 0, 0, 0, 0, 0, 0, 0, 0, 25, 20},
    {"all on, -grow 2", 1, 2, 20, 2, 30, 5000, 0, 2},
    {"all on, -grow -2", 1, 2, 20, -2, 30, 5000, 0, 2},
    {"all on, -grow -2 -edge-cut 0.5", 1, 2, 20, -2, 30, 5000, 0.5, 2},
};
constexpr int32_t kSetCount = sizeof(kSets) / sizeof(kSets[0]);
constexpr int32_t kRounds = 5;

}  // namespace

void printCellOptionCosts(const SeriesParams& params, int32_t frames, int32_t threshold, int32_t smallCellArea,
                          const NeighbourhoodTables& tables) {
    const int64_t n = static_cast<int64_t>(params.width) * params.height;
    std::vector<std::vector<uint8_t>> grays(frames, std::vector<uint8_t>(n));
    for (int32_t j = 0; j < frames; ++j) renderSyntheticFrame(params, j + 1, grays[j].data());
    SegmentScratch scratch(tables);
    FrameInFlight frame;
    if (!scratch.reserve(params.width, params.height) || !scratch.reserveExtensions() ||
        !scratch.reserveSplitting() || !frame.reserve(params.width, params.height)) {
        std::fprintf(stderr, "cell options: cannot reserve the scratch\n");
        return;
    }
    std::vector<RunConfig> configs(kSetCount);
    for (int32_t k = 0; k < kSetCount; ++k) {
        RunConfig& c = configs[k];
        c.threshold = threshold;
        c.smallCellArea = smallCellArea;
        c.smoothSigma = kSets[k].smooth;
        c.splitDepth = kSets[k].split;
        c.minContrast = kSets[k].minContrast;
        c.grow = kSets[k].grow;
        c.minArea = kSets[k].minArea;
        c.maxArea = kSets[k].maxArea;
        c.edgeCut = kSets[k].edgeCut;
        c.splitGray = kSets[k].splitGray;
        c.halo = kSets[k].halo;
        c.haloCells = kSets[k].haloCells;
    }
    // The least processor time of each (set, frame) over the rounds: the machine's other work
    // only ever adds to a time.
    std::vector<double> least(static_cast<size_t>(kSetCount) * frames, std::numeric_limits<double>::max());
    std::vector<int64_t> cells(kSetCount, 0);
    for (int32_t round = 0; round < kRounds; ++round) {
        for (int32_t j = 0; j < frames; ++j) {
            for (int32_t k = 0; k < kSetCount; ++k) {
                std::copy(grays[j].begin(), grays[j].end(), frame.gray());
                frame.frame = j + 1;
                const double t0 = threadCpuMs();
                const int32_t count = segmentFrame(scratch, frame, configs[k]);
                const double ms = threadCpuMs() - t0;
                double& slot = least[static_cast<size_t>(k) * frames + j];
                slot = std::min(slot, ms);
                if (round == 0) cells[k] += count;
            }
        }
    }
    std::vector<double> perFrame(kSetCount, 0);
    for (int32_t k = 0; k < kSetCount; ++k) {
        for (int32_t j = 0; j < frames; ++j) perFrame[k] += least[static_cast<size_t>(k) * frames + j] / frames;
    }
    std::printf("\ncell options, segmentation of a frame on one thread, processor ms (least of %d interleaved "
                "rounds):\n",
                kRounds);
    std::printf("%-30s %10s %10s %8s %10s\n", "options", "ms/frame", "extra ms", "ratio", "cells");
    for (int32_t k = 0; k < kSetCount; ++k) {
        std::printf("%-30s %10.3f %10.3f %8.3f %10.1f\n", kSets[k].name, perFrame[k], perFrame[k] - perFrame[0],
                    perFrame[k] / perFrame[0], static_cast<double>(cells[k]) / frames);
    }
}

}  // namespace vanto
