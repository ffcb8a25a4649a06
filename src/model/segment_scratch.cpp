#include "model/segment_scratch.h"

#include <algorithm>
#include <new>
#include <utility>

namespace vanto {

namespace {

constexpr int64_t kMaxBlockEntries = INT64_MAX / 16;

// Entries of each plane, in the order reserve() asks for them.
struct Plan {
    int64_t pixels;
    int64_t scratch;
};

Plan planFor(int64_t n) {
    // Every queue of a stage holds each pixel at most once.
    return {n, std::max<int64_t>(n, 1)};
}

}  // namespace

int64_t SegmentScratch::bytesFor(int64_t n) {
    const Plan p = planFor(n);
    return p.pixels + 4 * (4 * p.pixels + p.scratch + (p.pixels + 1) + 2 * (p.pixels + 1));
}

bool SegmentScratch::reserve(int32_t frameWidth, int32_t frameHeight) {
    width = frameWidth;
    height = frameHeight;
    const int64_t w = std::max<int64_t>(frameWidth, 0);
    const int64_t h = std::max<int64_t>(frameHeight, 0);
    pixelCount = w * h;
    const Plan plan = planFor(pixelCount);
    scratchCapacity = plan.scratch;
    const int64_t n = plan.pixels;

    std::pair<int32_t**, int64_t> blocks[] = {
        {&workPlane, n},      {&maskPlane, n},   {&depthPlane, n},
        {&frameLabels, n},    {&scratchInts, scratchCapacity},
        {&regionSize, n + 1}, {&regionScratch, 2 * (n + 1)},
    };
    std::vector<OwnedBlock<int32_t>> owned;
    owned.reserve(std::size(blocks));
    requested_ = bytesFor(pixelCount);
    for (auto& [target, entries] : blocks) {
        OwnedBlock<int32_t> block;
        if (entries < kMaxBlockEntries) block = reserveBlock<int32_t>(entries);
        if (!block) return false;
        *target = block.get();
        owned.push_back(std::move(block));
    }
    inverted_ = reserveBlock<uint8_t>(n);
    if (!inverted_) return false;
    invertedGray = inverted_.get();
    owned_ = std::move(owned);
    return true;
}

int64_t SegmentScratch::extensionBytesFor(int64_t n) {
    return n + 4 * (n + 2 * int64_t{kTableRecords} * 256);
}

bool SegmentScratch::reserveExtensions() {
    const int64_t n = pixelCount;
    if (n >= kMaxBlockEntries) return false;
    requested_ += extensionBytesFor(n);
    smoothed_ = reserveBlock<uint8_t>(std::max<int64_t>(n, 1));
    if (!smoothed_) return false;
    smoothedGray = smoothed_.get();
    std::pair<int32_t**, int64_t> blocks[] = {
        {&optionPlane, std::max<int64_t>(n, 1)},
        {&innerHistogram, int64_t{kTableRecords} * 256},
        {&ringHistogram, int64_t{kTableRecords} * 256},
    };
    for (auto& [target, entries] : blocks) {
        OwnedBlock<int32_t> block = reserveBlock<int32_t>(entries);
        if (!block) return false;
        *target = block.get();
        extensions_.push_back(std::move(block));
    }
    return true;
}

namespace {

struct SplitPlan {
    int64_t distance, marks, envelope, keys;
};

SplitPlan splitPlanFor(int32_t frameWidth, int32_t frameHeight) {
    const int64_t w = std::max<int64_t>(frameWidth, 0), h = std::max<int64_t>(frameHeight, 0);
    const int64_t n = std::max<int64_t>(w * h, 1);
    return {(w + 2) * (h + 2), n, 3 * (w + 2), n};
}

}  // namespace

int64_t SegmentScratch::splittingBytesFor(int32_t frameWidth, int32_t frameHeight) {
    const SplitPlan p = splitPlanFor(frameWidth, frameHeight);
    return 4 * (p.distance + 2 * p.marks + p.envelope) + 8 * (2 * p.keys + 1);
}

bool SegmentScratch::reserveSplitting() {
    const SplitPlan plan = splitPlanFor(width, height);
    if (plan.distance >= kMaxBlockEntries) return false;
    requested_ += splittingBytesFor(width, height);
    std::pair<int32_t**, int64_t> ints[] = {
        {&splitDistance, plan.distance},
        {&splitMarks, plan.marks},
        {&splitHeights, plan.marks},
        {&splitEnvelope, plan.envelope}};
    for (auto& [target, entries] : ints) {
        OwnedBlock<int32_t> block = reserveBlock<int32_t>(entries);
        if (!block) return false;
        *target = block.get();
        splitInts_.push_back(std::move(block));
    }
    for (auto [target, entries] : {std::pair{&splitOrder, plan.keys}, std::pair{&splitQueue, plan.keys + 1}}) {
        OwnedBlock<int64_t> block = reserveBlock<int64_t>(entries);
        if (!block) return false;
        *target = block.get();
        splitKeys_.push_back(std::move(block));
    }
    return true;
}

}  // namespace vanto
