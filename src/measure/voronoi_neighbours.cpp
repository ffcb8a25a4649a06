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
    // Bit key of this set is 1 once the pair is listed: a bit a key, so that clearing it costs
    // n * n / 8 bytes and not four times n * n.
    uint32_t* paired = reinterpret_cast<uint32_t*>(cells.pairMatrix);
    std::fill_n(paired, (int64_t{n} * n + 31) / 32, 0u);
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
                uint32_t& word = paired[key >> 5];
                const uint32_t bit = 1u << (key & 31);
                if ((word & bit) != 0) continue;
                word |= bit;
                cells.voronoiPairs[cells.voronoiPairCount++] = key;
            }
        }
    }
    area.finish();
}

}  // namespace vanto
