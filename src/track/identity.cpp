#include "track/identity.h"

#include <algorithm>
#include <cmath>

#include "track/scratch_regions.h"

namespace vanto {

void carryIdentities(FrameCells& cells, FrameHistory& history, const int32_t* labelMap, TrackScratch& scratch,
                     int32_t* slot) {
    const int32_t linkCount = cells.linkCount;

    // Accepted links move to the final numbering, or fall to 1 when their cell's label vanished.
    for (int32_t k = 0; k < linkCount; ++k) {
        int32_t* e = linkEntry(slot, k);
        if (e[LinkWord::linkState] != kLinkAccepted) continue;
        const int32_t m = labelMap[e[LinkWord::curIndex]];
        if (m == -1) {
            e[LinkWord::linkState] = kLinkVanished;
            continue;
        }
        const int32_t* rec = cellRecord(cells.cellTable, m);
        e[LinkWord::curX] = rec[CellWord::centerX];
        e[LinkWord::curY] = rec[CellWord::centerY];
        e[LinkWord::curIndex] = m;
        e[LinkWord::carriedId] = -1;
        e[LinkWord::curSmall] = rec[CellWord::smallFlag];
    }

    // A link is exclusive when it is the only accepted link of its previous and of its
    // current cell.
    int32_t* prevAccepted = scratch.scratchInts + ScratchRegion::prevAccepted;
    int32_t* curAccepted = scratch.scratchInts + ScratchRegion::curAccepted;
    std::fill_n(prevAccepted, history.prevCount, 0);
    std::fill_n(curAccepted, cells.finalCount, 0);
    for (int32_t k = 0; k < linkCount; ++k) {
        const int32_t* e = linkEntry(slot, k);
        if (e[LinkWord::linkState] != kLinkAccepted) continue;
        ++prevAccepted[e[LinkWord::prevIndex]];
        ++curAccepted[e[LinkWord::curIndex]];
    }
    for (int32_t k = 0; k < linkCount; ++k) {
        int32_t* e = linkEntry(slot, k);
        if (e[LinkWord::linkState] != kLinkAccepted) continue;
        const int32_t p = e[LinkWord::prevIndex];
        const int32_t c = e[LinkWord::curIndex];
        if (prevAccepted[p] != 1 || curAccepted[c] != 1) continue;
        const double dx = e[LinkWord::prevX] - e[LinkWord::curX];
        const double dy = e[LinkWord::prevY] - e[LinkWord::curY];
        const double d = std::sqrt(dx * dx + dy * dy);
        const int32_t* pr = cellRecord(history.prevCellTable, p);
        int32_t* cr = cellRecord(cells.cellTable, c);
        e[LinkWord::carriedId] = pr[CellWord::cellId];
        cr[CellWord::cellId] = pr[CellWord::cellId];
        cr[CellWord::life] = pr[CellWord::life] + 1;
        cr[CellWord::totalWay] = static_cast<int32_t>(pr[CellWord::totalWay] + d * 100.0);
    }

    for (int32_t i = 0; i < cells.finalCount; ++i) {
        int32_t* rec = cellRecord(cells.cellTable, i);
        if (rec[CellWord::cellId] == -1) rec[CellWord::cellId] = history.nextCellId++;
    }
}

}  // namespace vanto
