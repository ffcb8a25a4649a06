#include "model/workspace.h"

#include <algorithm>
#include <array>
#include <climits>
#include <new>
#include <utility>
#include <vector>

namespace vanto {

namespace {

// Ranges the index sort may keep pending: it sorts link and offset lists, never the pixels.
int64_t sortRanges() { return std::max<int64_t>(kLinkLimit, kWindowOffsets) / 2 + 2; }

}  // namespace

std::array<Workspace::Block, Workspace::kBlockCount> Workspace::plan(int64_t n) {
    return {{
        {&Workspace::workPlane, n},
        {&Workspace::maskPlane, n},
        {&Workspace::segLabels, n},
        {&Workspace::frameLabels, n},
        {&Workspace::nearestCellMap, n},
        {&Workspace::pairMatrix, kMatrixEntries},
        {&Workspace::prevAdjacency, kMatrixEntries},
        {&Workspace::cellTable, int64_t{kTableRecords} * kCellWords},
        {&Workspace::scratchInts, std::max(kMinScratchInts, n)},
        {&Workspace::prevFrameLabels, n},
        {&Workspace::prevCellTable, int64_t{kTableRecords} * kCellWords},
        // Each frame writes a few kilobytes at the start of its slot: small pages, so that
        // the 40 MB are not cleared at start-up.
        {&Workspace::linkHistory, int64_t{kSlotCount} * kSlotWords, Pages::small},
        {&Workspace::sortStack, 2 * sortRanges()},
        {&Workspace::rankOrder, kLinkLimit},
        {&Workspace::rankKey, kLinkLimit},
        {&Workspace::linksByPrevStart, kTableRecords + 1},
        {&Workspace::linksByPrev, kLinkLimit},
        {&Workspace::linksByCurStart, kTableRecords + 1},
        {&Workspace::linksByCur, kLinkLimit},
        {&Workspace::voronoiPairs, 2 * n + 4},
    }};
}

int64_t Workspace::plannedBytes(int32_t frameWidth, int32_t frameHeight) {
    const int64_t n = int64_t{std::max(frameWidth, 0)} * std::max(frameHeight, 0);
    if (n > kMaxPixels) return INT64_MAX;
    int64_t bytes = 3 * int64_t{kTableRecords} * 2;  // the three int16 cell lists
    for (const Block& block : plan(n)) bytes += block.entries * 4;
    return bytes;
}

bool Workspace::reserve(int32_t frameWidth, int32_t frameHeight) {
    width = frameWidth;
    height = frameHeight;
    pixelCount = int64_t{std::max(frameWidth, 0)} * std::max(frameHeight, 0);  // at most 2^62: fits
    requested_ = plannedBytes(frameWidth, frameHeight);
    // Beyond 2^31 - 1 pixels the sizes below would overflow: such a frame is never reserved.
    if (pixelCount > kMaxPixels) return false;
    const int64_t n = pixelCount;
    scratchCapacity = std::max(kMinScratchInts, n);
    sortStackRanges = sortRanges();

    std::vector<OwnedBlock<int32_t>> owned;
    owned.reserve(kBlockCount);
    // Reserved in plan order.
    bool ok = true;
    for (const Block& b : plan(n)) {
        OwnedBlock<int32_t> block = reserveBlock<int32_t>(b.entries, b.pages);
        if (!block) {
            ok = false;
            break;
        }
        this->*b.target = block.get();
        owned.push_back(std::move(block));
    }
    if (ok) lists_ = reserveBlock<int16_t>(3 * kTableRecords);
    if (!ok || !lists_) return false;

    owned_ = std::move(owned);
    prevCellList = lists_.get();
    curCellList = prevCellList + kTableRecords;
    mergeList = curCellList + kTableRecords;
    for (int32_t s = 0; s < kSlotCount; ++s) endSlotAt(slotAt(s), 0);
    return true;
}

void Workspace::exchangeFrames() {
    std::swap(frameLabels, prevFrameLabels);
    std::swap(cellTable, prevCellTable);
    prevCount = finalCount;
}

void Workspace::takeSegmentation(FrameInFlight& frame) {
    std::swap(segLabels, frame.segLabels);
    std::swap(cellTable, frame.cellTable);
    curCount = frame.curCount;
}

}  // namespace vanto
