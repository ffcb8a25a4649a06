#include "track/fragment_merge.h"

#include <algorithm>

#include "segment/flood_fill.h"
#include "track/track_scratch.h"

namespace vanto {

void mergeComponentFragments(Workspace& ws, const int32_t* slot, const int32_t* queue, int32_t n, int32_t prevCells) {
    const int32_t curCount = ws.curCount;
    int32_t* local = ws.scratchInts + TrackScratch::mergeLocal;
    int32_t* start = ws.scratchInts + TrackScratch::mergeStart;
    int32_t* items = ws.scratchInts + TrackScratch::mergeItems;
    for (int32_t i = 0; i < prevCells; ++i) local[ws.prevCellList[i]] = i;
    // The component's links grouped by previous cell, each group in queue order.
    bucketItems(
        n, [&](int32_t q) { return queue[q]; }, prevCells,
        [&](int32_t link) { return local[linkEntry(slot, link)[LinkWord::prevIndex]]; }, start, items);

    int16_t* fragments = ws.mergeList;
    for (int32_t i = 0; i < prevCells; ++i) {
        int32_t count = 0;
        for (int32_t j = start[i]; j < start[i + 1]; ++j) {
            const int32_t* e = linkEntry(slot, items[j]);
            if (e[LinkWord::linkState] != kLinkAccepted) continue;
            fragments[count++] = static_cast<int16_t>(e[LinkWord::curIndex]);
        }
        // One way, later entry to earlier, not closed transitively.
        for (int32_t a = 0; a < count; ++a) {
            const int32_t* touches = ws.pairMatrix + static_cast<int64_t>(fragments[a]) * curCount;
            int32_t* ra = cellRecord(ws.cellTable, fragments[a]);
            for (int32_t b = a + 1; b < count; ++b) {
                if (touches[fragments[b]] != 0)
                    ra[CellWord::relabelTo] = cellRecord(ws.cellTable, fragments[b])[CellWord::relabelTo];
            }
        }
    }
}

void absorbUnlinkedFragments(Workspace& ws) {
    const int32_t curCount = ws.curCount;
    for (int32_t c = 0; c < curCount; ++c) {
        int32_t* rc = cellRecord(ws.cellTable, c);
        if (rc[CellWord::linkMark] != kMarkUntouched || rc[CellWord::smallFlag] != 0) continue;
        const int32_t* touches = ws.pairMatrix + static_cast<int64_t>(c) * curCount;
        // The last touching matched cell in index order wins: search from the end.
        for (int32_t d = curCount - 1; d >= 0; --d) {
            if (d == c || touches[d] == 0) continue;
            const int32_t* rd = cellRecord(ws.cellTable, d);
            if (rd[CellWord::linkMark] != kMarkMatched) continue;
            rc[CellWord::relabelTo] = rd[CellWord::relabelTo];
            break;
        }
    }
}

void relabelAndFillHoles(Workspace& ws) {
    int32_t* labels = ws.segLabels;
    const int64_t pixels = ws.pixelCount;
    // workPlane marks each pixel: kInCell, kOpenToEdge, the seed of the fill that took it, or
    // -1 while not yet taken.
    constexpr int32_t kInCell = -3;
    constexpr int32_t kOpenToEdge = -2;
    int32_t* mark = ws.workPlane;
    for (int64_t p = 0; p < pixels; ++p) {
        const bool inCell = labels[p] >= 0;
        if (inCell) labels[p] = cellRecord(ws.cellTable, labels[p])[CellWord::relabelTo];
        mark[p] = inCell ? kInCell : -1;
    }

    const int32_t width = ws.width;
    const int32_t height = ws.height;
    OffsetSteps steps;
    buildOffsetSteps(ws.tables, width, steps);
    int32_t* queue = ws.scratchInts;
    // Background 4-connected to the frame edge is never filled: whatever its first seed, the
    // fill either reaches the edge or meets pixels of an earlier seed. It is marked at once,
    // a row run at a time, so that only enclosed background is searched pixel by pixel.
    RunFill edge(
        width, height, queue, false, [=](int32_t q) { return mark[q] == -1; },
        [=](int32_t q) { mark[q] = kOpenToEdge; },
        [=](int32_t q) { return mark[q] == kOpenToEdge; });
    edge.seedRow(0, 0, width - 1);
    edge.seedRow(height - 1, 0, width - 1);
    for (int32_t y = 1; y < height - 1; ++y) {
        edge.seed(0, y);
        edge.seed(width - 1, y);
    }
    edge.spread();

    // Each enclosed background area from its first pixel: filled when the cell pixels around
    // it carry one label. Areas are 4-parted, so a fill never meets another area's pixels.
    constexpr int32_t kNone = -1;
    constexpr int32_t kFails = -2;
    for (int64_t s = 0; s < pixels; ++s) {
        if (mark[s] != -1) continue;
        const auto seed = static_cast<int32_t>(s);
        mark[s] = seed;
        int32_t found = kNone;
        const int32_t tail = floodFill(
            steps, width, height, queue, seed, kFourNeighbours,
            [&](int32_t n) {
                if (n < 0) {
                    found = kFails;
                } else if (mark[n] == kInCell) {
                    if (found == kNone) {
                        found = labels[n];
                    } else if (found != labels[n]) {
                        found = kFails;
                    }
                } else if (mark[n] != -1) {
                    if (mark[n] != seed) found = kFails;
                } else {
                    mark[n] = seed;
                    return true;
                }
                return false;
            },
            [&] { return found == kFails; });
        if (found < 0) continue;
        for (int32_t i = 0; i < tail; ++i) labels[queue[i]] = found;
    }
}

}  // namespace vanto
