#include "segment/cell_table.h"

#include <algorithm>

#include "segment/offset_steps.h"

namespace vanto {

int32_t buildCellTable(Workspace& ws, int32_t smallCellArea) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    int32_t* seg = ws.segLabels;
    int32_t* visited = ws.workPlane;
    int32_t* queue = ws.scratchInts;
    const NeighbourhoodTables& t = ws.tables;
    int32_t delta[kFourNeighbours + 1];
    for (int k = 1; k <= kFourNeighbours; ++k) delta[k] = t.offsetDy[k] * w + t.offsetDx[k];

    std::fill_n(visited, n, -1);
    int32_t count = 0;
    for (int32_t p = 0; p < n; ++p) {
        if (visited[p] != -1 || seg[p] < 0) continue;
        // The cell is the 4-connected piece of p's region id. Members are renumbered as they
        // are marked; marked pixels are never compared again, so a new number equal to an old
        // region id mixes nothing.
        const int32_t region = seg[p];
        int32_t head = 0;
        int32_t tail = 0;
        queue[tail++] = p;
        visited[p] = 1;
        seg[p] = count;
        int32_t minX = w, minY = h, maxX = -1, maxY = -1;
        while (head < tail) {
            const int32_t c = queue[head++];
            const int32_t y = c / w;
            const int32_t x = c - y * w;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
            for (int k = 1; k <= kFourNeighbours; ++k) {
                if (!inFrame(x + t.offsetDx[k], y + t.offsetDy[k], w, h)) continue;
                const int32_t q = c + delta[k];
                if (visited[q] == -1 && seg[q] == region) {
                    visited[q] = 1;
                    seg[q] = count;
                    queue[tail++] = q;
                }
            }
        }

        int32_t* rec = cellRecord(ws.cellTable, count);
        std::fill_n(rec, kCellWords, 0);
        rec[CellWord::smallFlag] = tail < smallCellArea ? 1 : 0;
        rec[CellWord::size] = tail;
        rec[CellWord::relabelTo] = count;
        rec[CellWord::centerX] = (minX + maxX) / 2;
        rec[CellWord::centerY] = (minY + maxY) / 2;
        rec[CellWord::minX] = minX;
        rec[CellWord::minY] = minY;
        rec[CellWord::maxX] = maxX;
        rec[CellWord::maxY] = maxY;
        rec[CellWord::linkMark] = kMarkUntouched;
        rec[CellWord::idDrawn] = 0;
        ++count;
        if (count == kCellLimit) break;
    }
    ws.curCount = count;
    return count;
}

}  // namespace vanto
