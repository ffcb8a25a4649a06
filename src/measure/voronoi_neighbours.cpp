#include "measure/voronoi_neighbours.h"

#include <algorithm>
#include <cstdlib>

#include "model/plane_scan.h"
#include "model/records.h"

namespace vanto {

void countVoronoiNeighbours(Workspace& ws) {
    ws.voronoiPairCount = 0;
    const int32_t n = ws.finalCount;
    if (n <= 0) return;
    std::fill_n(ws.pairMatrix, int64_t{n} * n, 0);
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t* map = ws.nearestCellMap;
    const int neighbours = ws.tables.discCount[1];
    // When the neighbours are the four pixels beside, above and below, a pixel inside the frame
    // whose four neighbours all share its cell pairs nothing and is only counted.
    bool fourSides = neighbours == 5;
    for (int k = 1; k < neighbours && fourSides; ++k) {
        fourSides = std::abs(ws.tables.offsetDx[k]) + std::abs(ws.tables.offsetDy[k]) == 1;
    }
    // Areas are added a run of equal cells at a time.
    RunCounter area([&ws](int64_t cell, int32_t n) {
        cellRecord(ws.cellTable, static_cast<int32_t>(cell))[CellWord::voronoiArea] += n;
    });
    // Pixels in raster order, as (x, y) and index together: no division per pixel.
    for (int32_t y = 0; y < h; ++y) {
        const bool innerRow = fourSides && y > 0 && y < h - 1;
        for (int32_t x = 0; x < w; ++x) {
            const int64_t p = static_cast<int64_t>(y) * w + x;
            const int32_t a = map[p];
            // Only indices of the frame's records are counted or paired.
            if (a < 0 || a >= n) continue;
            area.count(a);
            if (innerRow && x > 0 && x < w - 1 && map[p - 1] == a && map[p + 1] == a && map[p - w] == a &&
                map[p + w] == a) {
                continue;
            }
            for (int k = 1; k < neighbours; ++k) {
                const int32_t nx = x + ws.tables.offsetDx[k];
                const int32_t ny = y + ws.tables.offsetDy[k];
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const int32_t b = map[static_cast<int64_t>(ny) * w + nx];
                if (b == a || b < 0 || b >= n) continue;
                const int32_t key = std::max(a, b) * n + std::min(a, b);
                if (ws.pairMatrix[key] == 1) continue;
                ws.pairMatrix[key] = 1;
                ws.voronoiPairs[ws.voronoiPairCount++] = key;
            }
        }
    }
    area.finish();
}

}  // namespace vanto
