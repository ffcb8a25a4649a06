#include "measure/voronoi_neighbours.h"

#include <algorithm>
#include <cstdlib>

#include "model/plane_scan.h"
#include "model/records.h"

namespace vanto {

void countVoronoiNeighbours(FrameCells& cells, const NeighbourhoodTables& tables) {
    cells.voronoiPairCount = 0;
    const int32_t n = cells.finalCount;
    if (n <= 0) return;
    int32_t* paired = cells.pairMatrix;  // key -> 1 once the pair is listed
    std::fill_n(paired, int64_t{n} * n, 0);
    const int32_t w = cells.width;
    const int32_t h = cells.height;
    const int32_t* map = cells.nearestCellMap;
    const int neighbours = tables.discCount[1];
    // When the neighbours are the four pixels beside, above and below, a pixel inside the frame
    // whose four neighbours all share its cell pairs nothing and is only counted.
    bool fourSides = neighbours == 5;
    for (int k = 1; k < neighbours && fourSides; ++k) {
        fourSides = std::abs(tables.offsetDx[k]) + std::abs(tables.offsetDy[k]) == 1;
    }
    // Areas are added a run of equal cells at a time.
    RunCounter area([&cells](int64_t cell, int32_t n) {
        cellRecord(cells.cellTable, static_cast<int32_t>(cell))[CellWord::voronoiArea] += n;
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
                const int32_t nx = x + tables.offsetDx[k];
                const int32_t ny = y + tables.offsetDy[k];
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const int32_t b = map[static_cast<int64_t>(ny) * w + nx];
                if (b == a || b < 0 || b >= n) continue;
                const int32_t key = std::max(a, b) * n + std::min(a, b);
                if (paired[key] == 1) continue;
                paired[key] = 1;
                cells.voronoiPairs[cells.voronoiPairCount++] = key;
            }
        }
    }
    area.finish();
}

}  // namespace vanto
