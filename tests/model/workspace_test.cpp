#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "model/frame_in_flight.h"
#include "model/records.h"
#include "model/workspace.h"

namespace vanto {
namespace {

constexpr int32_t kW = 7, kH = 5;
constexpr int64_t kN = int64_t{kW} * kH;

// Every int32 block the parts are lent, with its entries.
std::vector<std::pair<const int32_t*, int64_t>> lentBlocks(const Workspace& ws) {
    const int64_t table = int64_t{kTableRecords} * kCellWords;
    const FrameCells& c = ws.cells;
    const FrameHistory& h = ws.history;
    const TrackScratch& s = ws.scratch;
    return {{c.segLabels, kN},
            {c.frameLabels, kN},
            {c.cellTable, table},
            {c.nearestCellMap, kN},
            {c.pairMatrix, kMatrixEntries},
            {c.voronoiPairs, 2 * kN + 4},
            {h.prevFrameLabels, kN},
            {h.prevCellTable, table},
            {h.prevAdjacency, kMatrixEntries},
            {h.linkHistory, int64_t{kSlotCount} * kSlotWords},
            {s.planeA, kN},
            {s.planeB, kN},
            {s.scratchInts, s.scratchCapacity},
            {s.sortStack, 2 * s.sortStackRanges},
            {s.rankOrder, kLinkLimit},
            {s.rankKey, kLinkLimit},
            {s.linksByPrevStart, kTableRecords + 1},
            {s.linksByPrev, kLinkLimit},
            {s.linksByCurStart, kTableRecords + 1},
            {s.linksByCur, kLinkLimit}};
}

// No two blocks share an entry: a part writing its own block never disturbs another's.
void expectDisjoint(std::vector<std::pair<const int32_t*, int64_t>> blocks) {
    std::sort(blocks.begin(), blocks.end());
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_LE(blocks[i].first + blocks[i].second, blocks[i + 1].first) << "blocks " << i << " and " << i + 1;
}

TEST(Workspace, ReservingLendsEveryPartItsOwnBlocks) {
    Workspace ws;
    ASSERT_TRUE(ws.reserve(kW, kH));
    EXPECT_EQ(ws.cells.width, kW);
    EXPECT_EQ(ws.cells.height, kH);
    EXPECT_EQ(ws.cells.pixelCount, kN);
    EXPECT_GE(ws.scratch.scratchCapacity, kN);
    EXPECT_EQ(ws.requestedBytes(), Workspace::plannedBytes(kW, kH));

    auto blocks = lentBlocks(ws);
    int64_t bytes = 0;
    for (const auto& [block, entries] : blocks) {
        ASSERT_NE(block, nullptr);
        bytes += entries * 4;
    }
    // The three cell lists share one int16 block, one after the other.
    const TrackScratch& s = ws.scratch;
    ASSERT_NE(s.prevCellList, nullptr);
    EXPECT_EQ(s.curCellList, s.prevCellList + kTableRecords);
    EXPECT_EQ(s.mergeList, s.curCellList + kTableRecords);
    EXPECT_EQ(bytes + 3 * int64_t{kTableRecords} * 2, ws.requestedBytes());
    expectDisjoint(blocks);

    // The views name the two scratch planes.
    EXPECT_EQ(s.crossFrameNearest().curNearPrev, s.planeA);
    EXPECT_EQ(s.crossFrameNearest().prevNearCur, s.planeB);
    EXPECT_EQ(reinterpret_cast<int32_t*>(s.holeFill().areaState), s.planeA);
    EXPECT_EQ(s.holeFill().fillPlane, s.planeB);
    EXPECT_EQ(s.holeFill().queue, s.scratchInts);

    for (int32_t slot = 0; slot < kSlotCount; ++slot)
        EXPECT_EQ(linkEntry(ws.history.slotAt(slot), 0)[LinkWord::prevX], -1) << slot;
}

TEST(Workspace, BeginFrameEmptiesOnlyThatFramesSlotAndCounts) {
    Workspace ws;
    ASSERT_TRUE(ws.reserve(kW, kH));
    for (int32_t s = 0; s < kSlotCount; ++s) linkEntry(ws.history.slotAt(s), 0)[LinkWord::prevX] = s;
    ws.cells.linkCount = 9;
    ws.cells.voronoiPairCount = 4;
    ws.beginFrame(kSlotCount + 3);
    EXPECT_EQ(ws.cells.linkCount, 0);
    EXPECT_EQ(ws.cells.voronoiPairCount, 0);
    for (int32_t s = 0; s < kSlotCount; ++s)
        EXPECT_EQ(linkEntry(ws.history.slotAt(s), 0)[LinkWord::prevX], s == 3 ? -1 : s) << s;
}

// Frames handed in by the segmentation and exchanged at their end, as a run does: every frame's
// results reach the history whole, and no block is held by two owners at once.
TEST(Workspace, TakingAndExchangingFramesKeepsCellsAndHistoryApart) {
    Workspace ws;
    ASSERT_TRUE(ws.reserve(kW, kH));
    FrameInFlight inFlight;
    ASSERT_TRUE(inFlight.reserve(kW, kH));
    for (int32_t frame = 1; frame <= 4; ++frame) {
        std::fill_n(inFlight.segLabels, kN, frame);
        cellRecord(inFlight.cellTable, 0)[CellWord::size] = 100 + frame;
        inFlight.curCount = frame;
        int32_t* given = inFlight.segLabels;
        ws.takeSegmentation(inFlight);
        EXPECT_EQ(ws.cells.segLabels, given);
        EXPECT_EQ(ws.cells.curCount, frame);
        EXPECT_EQ(cellRecord(ws.cells.cellTable, 0)[CellWord::size], 100 + frame);

        // Tracking's results for the frame, then the end of the frame.
        std::fill_n(ws.cells.frameLabels, kN, 10 * frame);
        cellRecord(ws.cells.cellTable, 0)[CellWord::cellId] = frame;
        ws.cells.finalCount = frame + 1;
        ws.exchangeFrames();
        EXPECT_EQ(ws.history.prevCount, frame + 1);
        EXPECT_EQ(cellRecord(ws.history.prevCellTable, 0)[CellWord::cellId], frame);
        EXPECT_TRUE(std::all_of(ws.history.prevFrameLabels, ws.history.prevFrameLabels + kN,
                                [&](int32_t v) { return v == 10 * frame; }));

        const std::set<const int32_t*> held = {ws.cells.segLabels,        ws.cells.frameLabels,
                                               ws.cells.cellTable,        ws.history.prevFrameLabels,
                                               ws.history.prevCellTable,  inFlight.segLabels,
                                               inFlight.cellTable};
        EXPECT_EQ(held.size(), 7u) << "frame " << frame;
    }
}

}  // namespace
}  // namespace vanto
