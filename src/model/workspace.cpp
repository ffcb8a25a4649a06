#include "model/workspace.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace vanto {

namespace {

constexpr int64_t kMaxBlockEntries = INT64_MAX / 8;

}  // namespace

bool Workspace::reserve(int32_t frameWidth, int32_t frameHeight) {
    width = frameWidth;
    height = frameHeight;
    const int64_t w = std::max<int64_t>(frameWidth, 0);
    const int64_t h = std::max<int64_t>(frameHeight, 0);
    pixelCount = w * h;  // at most 2^62: fits
    const int64_t n = pixelCount;
    scratchCapacity = std::max(kMinScratchInts, n);
    const int64_t sortItems = std::max<int64_t>(kLinkLimit, kWindowOffsets);
    sortStackRanges = sortItems / 2 + 2;

    // Reserved in this order; each request is counted even when an earlier one failed.
    std::pair<int32_t**, int64_t> plan[] = {
        {&workPlane, n},
        {&maskPlane, n},
        {&segLabels, n},
        {&depthPlane, n},
        {&frameLabels, n},
        {&nearestCellMap, n},
        {&pairMatrix, kMatrixEntries},
        {&prevAdjacency, kMatrixEntries},
        {&cellTable, int64_t{kTableRecords} * kCellWords},
        {&scratchInts, scratchCapacity},
        {&prevFrameLabels, n},
        {&prevCellTable, int64_t{kTableRecords} * kCellWords},
        {&linkHistory, int64_t{kSlotCount} * kSlotWords},
        {&regionSize, n + 1},
        {&regionScratch, 2 * (n + 1)},
        {&sortStack, 2 * sortStackRanges},
        {&rankOrder, kLinkLimit},
        {&rankKey, kLinkLimit},
        {&linksByPrevStart, kTableRecords + 1},
        {&linksByPrev, kLinkLimit},
        {&linksByCurStart, kTableRecords + 1},
        {&linksByCur, kLinkLimit},
        {&voronoiPairs, 2 * n + 4},
    };
    std::vector<std::unique_ptr<int32_t[]>> owned;
    owned.reserve(std::size(plan));
    requested_ = 3 * int64_t{kTableRecords} * 2;
    bool ok = true;
    for (auto& [target, entries] : plan) {
        requested_ += entries * 4;
        if (!ok) continue;
        std::unique_ptr<int32_t[]> block;
        if (entries < kMaxBlockEntries) block.reset(new (std::nothrow) int32_t[std::max<int64_t>(entries, 1)]);
        if (!block) {
            ok = false;
            continue;
        }
        *target = block.get();
        owned.push_back(std::move(block));
    }
    lists_.reset(ok ? new (std::nothrow) int16_t[3 * kTableRecords] : nullptr);
    if (!ok || !lists_) return false;

    owned_ = std::move(owned);
    prevCellList = lists_.get();
    curCellList = prevCellList + kTableRecords;
    mergeList = curCellList + kTableRecords;
    std::fill_n(linkHistory, int64_t{kSlotCount} * kSlotWords, -1);
    return true;
}

void Workspace::exchangeFrames() {
    std::swap(frameLabels, prevFrameLabels);
    std::swap(cellTable, prevCellTable);
    prevCount = finalCount;
}

}  // namespace vanto
