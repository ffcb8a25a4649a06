#include "segment/cell_table.h"

#include <algorithm>
#include <climits>

#include "model/plane_scan.h"
#include "segment/flood_fill.h"

namespace vanto {

int32_t buildCellTable(SegmentScratch& ws, int32_t smallCellArea) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    int32_t* seg = ws.segLabels;
    // Members are marked with kMarked + their cell number, far below any unlabelled value, so
    // that a marked pixel is never taken for a region id; the numbers are set at the end.
    constexpr int32_t kMarked = INT32_MIN;
    int32_t count = 0;
    for (int32_t p = static_cast<int32_t>(firstNonNegative(seg, 0, n)); p < n;
         p = static_cast<int32_t>(firstNonNegative(seg, p + 1, n))) {
        // The cell is the 4-connected piece of p's region id.
        const int32_t region = seg[p];
        const int32_t mark = kMarked + count;
        RunFill fill(
            w, h, ws.scratchInts, false, [=](int32_t q) { return seg[q] == region; }, [=](int32_t q) { seg[q] = mark; },
            [=](int32_t q) { return seg[q] == mark; });
        fill.seedPixel(p);
        const int32_t size = static_cast<int32_t>(fill.spread());
        const int32_t minX = fill.minX(), maxX = fill.maxX(), minY = fill.minY(), maxY = fill.maxY();

        int32_t* rec = cellRecord(ws.cellTable, count);
        std::fill_n(rec, kCellWords, 0);
        rec[CellWord::smallFlag] = size < smallCellArea ? 1 : 0;
        rec[CellWord::size] = size;
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
    for (int32_t p = 0; p < n; ++p) seg[p] = seg[p] < kMarked + kCellLimit ? seg[p] - kMarked : seg[p];
    ws.curCount = count;
    return count;
}

}  // namespace vanto
