#include "track/fragment_merge.h"

#include <algorithm>

#include "segment/enclosed_areas.h"
#include "segment/flood_fill.h"
#include "track/scratch_regions.h"

namespace vanto {

void mergeComponentFragments(FrameCells& cells, TrackScratch& scratch, const int32_t* slot, const int32_t* queue,
                             int32_t n, int32_t prevCells) {
    const int32_t curCount = cells.curCount;
    int32_t* local = scratch.scratchInts + ScratchRegion::mergeLocal;
    int32_t* start = scratch.scratchInts + ScratchRegion::mergeStart;
    int32_t* items = scratch.scratchInts + ScratchRegion::mergeItems;
    for (int32_t i = 0; i < prevCells; ++i) local[scratch.prevCellList[i]] = i;
    // The component's links grouped by previous cell, each group in queue order.
    bucketItems(
        n, [&](int32_t q) { return queue[q]; }, prevCells,
        [&](int32_t link) { return local[linkEntry(slot, link)[LinkWord::prevIndex]]; }, start, items);

    int16_t* fragments = scratch.mergeList;
    for (int32_t i = 0; i < prevCells; ++i) {
        int32_t count = 0;
        for (int32_t j = start[i]; j < start[i + 1]; ++j) {
            const int32_t* e = linkEntry(slot, items[j]);
            if (e[LinkWord::linkState] != kLinkAccepted) continue;
            fragments[count++] = static_cast<int16_t>(e[LinkWord::curIndex]);
        }
        // One way, later entry to earlier, not closed transitively.
        for (int32_t a = 0; a < count; ++a) {
            const int32_t* touches = cells.pairMatrix + static_cast<int64_t>(fragments[a]) * curCount;
            int32_t* ra = cellRecord(cells.cellTable, fragments[a]);
            for (int32_t b = a + 1; b < count; ++b) {
                if (touches[fragments[b]] != 0)
                    ra[CellWord::relabelTo] = cellRecord(cells.cellTable, fragments[b])[CellWord::relabelTo];
            }
        }
    }
}

void absorbUnlinkedFragments(FrameCells& cells) {
    const int32_t curCount = cells.curCount;
    for (int32_t c = 0; c < curCount; ++c) {
        int32_t* rc = cellRecord(cells.cellTable, c);
        if (rc[CellWord::linkMark] != kMarkUntouched || rc[CellWord::smallFlag] != 0) continue;
        const int32_t* touches = cells.pairMatrix + static_cast<int64_t>(c) * curCount;
        // The last touching matched cell in index order wins: search from the end.
        for (int32_t d = curCount - 1; d >= 0; --d) {
            if (d == c || touches[d] == 0) continue;
            const int32_t* rd = cellRecord(cells.cellTable, d);
            if (rd[CellWord::linkMark] != kMarkMatched) continue;
            rc[CellWord::relabelTo] = rd[CellWord::relabelTo];
            break;
        }
    }
}

void relabelAndFillHoles(FrameCells& cells, HoleFillScratch scratch, const NeighbourhoodTables& tables) {
    int32_t* labels = cells.segLabels;
    uint8_t* state = scratch.areaState;
    const int64_t pixels = cells.pixelCount;
    for (int64_t p = 0; p < pixels; ++p) {
        const bool labelled = labels[p] >= 0;
        if (labelled) labels[p] = cellRecord(cells.cellTable, labels[p])[CellWord::relabelTo];
        state[p] = labelled ? kAreaLabelled : kAreaUnseen;
    }
    OffsetSteps steps;
    buildOffsetSteps(tables, cells.width, steps);
    fillEnclosedAreas(labels, state, scratch.fillPlane, scratch.queue, steps, cells.width, cells.height);
}

}  // namespace vanto
