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

std::array<Workspace::Block, Workspace::kBlockCount> Workspace::plan(int64_t n, Workspace* into) {
    // Address of member field of part of into.
    const auto at = [into](auto Workspace::*part, auto field) -> int32_t** {
        return into ? &((into->*part).*field) : nullptr;
    };
    FrameCells Workspace::*cells = &Workspace::cells;
    FrameHistory Workspace::*history = &Workspace::history;
    TrackScratch Workspace::*scratch = &Workspace::scratch;
    return {{
        {at(scratch, &TrackScratch::planeB), n},
        {at(scratch, &TrackScratch::planeA), n},
        {at(cells, &FrameCells::segLabels), n},
        {at(cells, &FrameCells::frameLabels), n},
        {at(cells, &FrameCells::nearestCellMap), n},
        {at(cells, &FrameCells::pairMatrix), kMatrixEntries},
        {at(history, &FrameHistory::prevAdjacency), kMatrixEntries},
        {at(cells, &FrameCells::cellTable), int64_t{kTableRecords} * kCellWords},
        {at(scratch, &TrackScratch::scratchInts), std::max(kMinScratchInts, n)},
        {at(history, &FrameHistory::prevFrameLabels), n},
        {at(history, &FrameHistory::prevCellTable), int64_t{kTableRecords} * kCellWords},
        // Each frame writes a few kilobytes at the start of its slot: small pages, so that
        // the 40 MB are not cleared at start-up.
        {at(history, &FrameHistory::linkHistory), int64_t{kSlotCount} * kSlotWords, Pages::small},
        {at(scratch, &TrackScratch::sortStack), 2 * sortRanges()},
        {at(scratch, &TrackScratch::rankOrder), kLinkLimit},
        {at(scratch, &TrackScratch::rankKey), kLinkLimit},
        {at(scratch, &TrackScratch::linksByPrevStart), kTableRecords + 1},
        {at(scratch, &TrackScratch::linksByPrev), kLinkLimit},
        {at(scratch, &TrackScratch::linksByCurStart), kTableRecords + 1},
        {at(scratch, &TrackScratch::linksByCur), kLinkLimit},
        {at(cells, &FrameCells::voronoiPairs), 2 * n + 4},
    }};
}

int64_t Workspace::plannedBytes(int32_t frameWidth, int32_t frameHeight) {
    const int64_t n = int64_t{std::max(frameWidth, 0)} * std::max(frameHeight, 0);
    if (n > kMaxPixels) return INT64_MAX;
    int64_t bytes = 3 * int64_t{kTableRecords} * 2;  // the three int16 cell lists
    for (const Block& block : plan(n, nullptr)) bytes += block.entries * 4;
    return bytes;
}

bool Workspace::reserve(int32_t frameWidth, int32_t frameHeight) {
    cells.width = frameWidth;
    cells.height = frameHeight;
    const int64_t n = int64_t{std::max(frameWidth, 0)} * std::max(frameHeight, 0);  // at most 2^62: fits
    cells.pixelCount = n;
    requested_ = plannedBytes(frameWidth, frameHeight);
    // Beyond 2^31 - 1 pixels the sizes below would overflow: such a frame is never reserved.
    if (n > kMaxPixels) return false;
    scratch.scratchCapacity = std::max(kMinScratchInts, n);
    scratch.sortStackRanges = sortRanges();

    std::vector<OwnedBlock<int32_t>> owned;
    owned.reserve(kBlockCount);
    // Reserved in plan order.
    bool ok = true;
    for (const Block& b : plan(n, this)) {
        OwnedBlock<int32_t> block = reserveBlock<int32_t>(b.entries, b.pages);
        if (!block) {
            ok = false;
            break;
        }
        *b.target = block.get();
        owned.push_back(std::move(block));
    }
    if (ok) lists_ = reserveBlock<int16_t>(3 * kTableRecords);
    if (!ok || !lists_) return false;

    owned_ = std::move(owned);
    scratch.prevCellList = lists_.get();
    scratch.curCellList = scratch.prevCellList + kTableRecords;
    scratch.mergeList = scratch.curCellList + kTableRecords;
    for (int32_t s = 0; s < kSlotCount; ++s) endSlotAt(history.slotAt(s), 0);
    return true;
}

void Workspace::beginFrame(int32_t frame) {
    cells.linkCount = 0;
    cells.voronoiPairCount = 0;
    endSlotAt(history.slotOfFrame(frame), 0);
}

void Workspace::takeSegmentation(FrameInFlight& frame) {
    std::swap(cells.segLabels, frame.segLabels);
    std::swap(cells.cellTable, frame.cellTable);
    cells.curCount = frame.curCount;
}

void Workspace::exchangeFrames() {
    std::swap(cells.frameLabels, history.prevFrameLabels);
    std::swap(cells.cellTable, history.prevCellTable);
    history.prevCount = cells.finalCount;
}

}  // namespace vanto
