#include "track/calculation_image.h"

#include <algorithm>

namespace vanto {

namespace {

constexpr int kTrailFrames = 5;

}  // namespace

void drawCalculationImage(Canvas& canvas, const FrameCells& cells, const FrameHistory& history, int32_t frame,
                          bool drawIds, uint8_t* idsDrawn) {
    const int32_t width = cells.width;
    const int32_t height = cells.height;
    const int32_t* labels = cells.frameLabels;
    canvas.renderGray();

    // Outlines: a pixel with a direct neighbour of another value inside the frame.
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* row = labels + static_cast<int64_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t label = row[x];
            if (label == -1) continue;
            int count = 0;
            if (x > 0 && row[x - 1] != label) ++count;
            if (y > 0 && row[x - width] != label) ++count;
            if (x < width - 1 && row[x + 1] != label) ++count;
            if (y < height - 1 && row[x + width] != label) ++count;
            if (count == 0) continue;
            const bool small = cellRecord(cells.cellTable, label)[CellWord::smallFlag] == 1;
            canvas.setPixel(x, y, 255, small ? 255 : 0, 0);
        }
    }

    // Accepted links of frames frame - 4 .. frame, oldest first, fading in with age.
    for (int s = 0; s < kTrailFrames; ++s) {
        const int32_t* slot = history.slotAt((frame % kSlotCount + kSlotCount - kTrailFrames + 1 + s) % kSlotCount);
        for (int32_t k = 0; k < kSlotEntries; ++k) {
            const int32_t* e = linkEntry(slot, k);
            if (e[LinkWord::prevX] == -1) break;
            if (e[LinkWord::linkState] < kLinkAccepted) continue;
            canvas.drawLine(e[LinkWord::prevX], e[LinkWord::prevY], e[LinkWord::curX], e[LinkWord::curY], 0, 0, 255,
                            s * 0.2, (s + 1) * 0.2);
        }
    }

    if (!drawIds) return;
    std::fill_n(idsDrawn, std::max(cells.finalCount, 0), uint8_t{0});
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* row = labels + static_cast<int64_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t label = row[x];
            if (label < 0 || idsDrawn[label] != 0) continue;
            idsDrawn[label] = 1;
            canvas.drawNumber(x, y, cellRecord(cells.cellTable, label)[CellWord::cellId]);
        }
    }
}

}  // namespace vanto
