#include "measure/voronoi_image.h"

#include "model/records.h"

namespace vanto {

namespace {

// In-frame 4-neighbours of (x, y) in the order left, up, right, down.
template <class Visit>
void forEachFourNeighbour(int32_t x, int32_t y, int32_t w, int32_t h, Visit&& visit) {
    if (x > 0) visit(x - 1, y);
    if (y > 0) visit(x, y - 1);
    if (x < w - 1) visit(x + 1, y);
    if (y < h - 1) visit(x, y + 1);
}

}  // namespace

void drawVoronoiImage(Canvas& canvas, const FrameCells& cells) {
    const int32_t w = cells.width;
    const int32_t h = cells.height;
    const int32_t n = cells.finalCount;
    canvas.renderGray();

    // Red outlines of the cells that are not small: cell pixels with a 4-neighbour of another label.
    const int32_t* labels = cells.frameLabels;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t l = labels[static_cast<int64_t>(y) * w + x];
            if (l < 0 || l >= n || cellRecord(cells.cellTable, l)[CellWord::smallFlag] != 0) continue;
            bool edge = false;
            forEachFourNeighbour(x, y, w, h,
                                 [&](int32_t nx, int32_t ny) { edge |= labels[static_cast<int64_t>(ny) * w + nx] != l; });
            if (edge) canvas.setPixel(x, y, 255, 0, 0);
        }
    }

    // Blue borders of the Voronoi regions, over the outlines.
    const int32_t* map = cells.nearestCellMap;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t a = map[static_cast<int64_t>(y) * w + x];
            forEachFourNeighbour(x, y, w, h, [&](int32_t nx, int32_t ny) {
                if (map[static_cast<int64_t>(ny) * w + nx] != a) canvas.setPixel(x, y, 0, 0, 255);
            });
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
