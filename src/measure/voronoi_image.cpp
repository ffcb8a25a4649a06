#include "measure/voronoi_image.h"

#include "model/records.h"

namespace vanto {

void drawVoronoiImage(Canvas& canvas, const FrameCells& cells) {
    const int32_t w = cells.width;
    const int32_t h = cells.height;
    const int32_t n = cells.finalCount;
    canvas.renderGray();

    // Red outlines of the cells that are not small: cell pixels with a 4-neighbour of another
    // label. Whether a pixel differs from a neighbour is asked first, the cell's record only then.
    const int32_t* labels = cells.frameLabels;
    const int32_t* map = cells.nearestCellMap;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* row = labels + static_cast<int64_t>(y) * w;
        const int32_t* above = y > 0 ? row - w : row;  // an edge row compares with itself
        const int32_t* below = y < h - 1 ? row + w : row;
        for (int32_t x = 0; x < w; ++x) {
            const int32_t l = row[x];
            const bool edge = (x > 0 && row[x - 1] != l) || above[x] != l || (x < w - 1 && row[x + 1] != l) ||
                              below[x] != l;
            if (!edge || l < 0 || l >= n || cellRecord(cells.cellTable, l)[CellWord::smallFlag] != 0) continue;
            canvas.setPixel(x, y, 255, 0, 0);
        }
    }

    // Blue borders of the Voronoi regions, over the outlines.
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* row = map + static_cast<int64_t>(y) * w;
        const int32_t* above = y > 0 ? row - w : row;
        const int32_t* below = y < h - 1 ? row + w : row;
        for (int32_t x = 0; x < w; ++x) {
            const int32_t a = row[x];
            if ((x > 0 && row[x - 1] != a) || above[x] != a || (x < w - 1 && row[x + 1] != a) || below[x] != a)
                canvas.setPixel(x, y, 0, 0, 255);
        }
    }

    // Yellow lines between touching regions' centres, smaller index first, drawn last.
    for (int32_t i = 0; n > 0 && i < cells.voronoiPairCount; ++i) {
        const int32_t key = cells.voronoiPairs[i];
        const int32_t* larger = cellRecord(cells.cellTable, key / n);
        const int32_t* smaller = cellRecord(cells.cellTable, key % n);
        canvas.drawLine(smaller[CellWord::centerX], smaller[CellWord::centerY], larger[CellWord::centerX],
                        larger[CellWord::centerY], 255, 255, 0, 1.0, 1.0);
    }
}

}  // namespace vanto
