#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "image/canvas.h"
#include "track/calculation_image.h"
#include "track_scene.h"

namespace vanto {
namespace {

constexpr int32_t kW = 12;
constexpr int32_t kH = 10;
constexpr int32_t kFrame = 7;

using Rgb = std::array<int, 3>;

uint8_t grayAt(int32_t x, int32_t y) { return x <= 3 && y <= 3 ? 0 : static_cast<uint8_t>(10 + x + 12 * y); }

void putLink(int32_t* slot, int32_t k, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t state) {
    int32_t* e = linkEntry(slot, k);
    e[LinkWord::prevX] = x0;
    e[LinkWord::prevY] = y0;
    e[LinkWord::curX] = x1;
    e[LinkWord::curY] = y1;
    e[LinkWord::linkState] = state;
}

// Cells: 0 a 3 x 3 square (identity 12), 1 a small single pixel (identity 0), 2 a block in
// the top-right corner (identity 5). Links: one accepted in this frame's slot along row 0,
// one in the slot four frames back down column 0; the others must not be drawn.
void buildFrame(Workspace& ws, Canvas& canvas) {
    canvas.createCanvas(kW, kH);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) canvas.gray[y * kW + x] = grayAt(x, y);
    std::fill_n(ws.cells.frameLabels, ws.cells.pixelCount, -1);
    testing::fillRect(ws.cells.frameLabels, kW, 6, 5, 8, 7, 0);
    testing::fillRect(ws.cells.frameLabels, kW, 1, 8, 1, 8, 1);
    testing::fillRect(ws.cells.frameLabels, kW, 10, 0, 11, 2, 2);
    const int32_t small[3] = {0, 1, 0};
    const int32_t ids[3] = {12, 0, 5};
    for (int i = 0; i < 3; ++i) {
        int32_t* r = cellRecord(ws.cells.cellTable, i);
        r[CellWord::smallFlag] = small[i];
        r[CellWord::cellId] = ids[i];
        r[CellWord::idDrawn] = 0;
    }
    cellRecord(ws.cells.cellTable, 3)[CellWord::smallFlag] = -1;
    ws.cells.finalCount = 3;

    int32_t* current = ws.history.slotOfFrame(kFrame);
    putLink(current, 0, 1, 0, 3, 0, kLinkAccepted);
    putLink(current, 1, 5, 3, 8, 3, kLinkVanished);
    putLink(current, 2, 5, 4, 8, 4, kLinkRejected);
    endSlotAt(current, 3);
    putLink(ws.history.slotOfFrame(kFrame - 4), 0, 0, 1, 0, 3, kLinkAccepted);
    endSlotAt(ws.history.slotOfFrame(kFrame - 4), 1);
    putLink(ws.history.slotOfFrame(kFrame - 2), 1, 4, 9, 9, 9, kLinkAccepted);  // after the slot's end
    putLink(ws.history.slotOfFrame(kFrame - 5), 0, 4, 0, 5, 0, kLinkAccepted);  // too old
    endSlotAt(ws.history.slotOfFrame(kFrame - 5), 1);
}

std::vector<Rgb> expectedImage(bool ids) {
    std::vector<Rgb> img(kW * kH);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) img[y * kW + x] = {grayAt(x, y), grayAt(x, y), grayAt(x, y)};
    auto set = [&](int32_t x, int32_t y, Rgb c) { img[y * kW + x] = c; };
    const Rgb red = {255, 0, 0};
    for (int32_t y = 5; y <= 7; ++y)
        for (int32_t x = 6; x <= 8; ++x)
            if (x != 7 || y != 6) set(x, y, red);
    set(1, 8, {255, 255, 0});
    // Along the frame edge the corner block has no outline.
    set(10, 0, red);
    set(10, 1, red);
    set(10, 2, red);
    set(11, 2, red);
    // Current frame's link, opacity 0.8 to 1.0 over gray 0: one blend per pixel.
    set(1, 0, {0, 0, 204});
    set(2, 0, {0, 0, 229});
    set(3, 0, {0, 0, 255});
    // Four frames back, opacity 0 to 0.2.
    set(0, 2, {0, 0, 25});
    set(0, 3, {0, 0, 51});
    if (ids) {
        const Rgb black = {0, 0, 0};
        // "5" with its left column at x = 10, clipped at the right edge.
        for (auto [x, y] : {std::pair{10, 0}, {11, 0}, {10, 1}, {10, 2}, {11, 2}, {10, 4}, {11, 4}}) set(x, y, black);
        // "12": "2" at x = 6, "1" at x = 3 (middle column of x = 2).
        for (auto [x, y] :
             {std::pair{6, 5}, {7, 5}, {8, 5}, {8, 6}, {6, 7}, {7, 7}, {8, 7}, {6, 8}, {6, 9}, {7, 9}, {8, 9}})
            set(x, y, black);
        for (int32_t y = 5; y <= 9; ++y) set(3, y, black);
    }
    return img;
}

void expectImage(const Canvas& canvas, const std::vector<Rgb>& expected) {
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            const uint8_t* p = canvas.rgbAt(x, y);
            const Rgb& e = expected[y * kW + x];
            EXPECT_EQ(p[2], e[0]) << "red at " << x << "," << y;
            EXPECT_EQ(p[1], e[1]) << "green at " << x << "," << y;
            EXPECT_EQ(p[0], e[2]) << "blue at " << x << "," << y;
        }
    }
}

TEST(TrackCalculationImage, OutlinesTrailsAndIdentities) {
    auto ws = testing::makeWorkspace(kW, kH);
    Canvas canvas;
    buildFrame(*ws, canvas);
    // The marks of the cells drawn are cleared first: those left from an earlier frame do not
    // keep this frame's identities off the image.
    std::vector<uint8_t> drawn(3, 1);
    drawCalculationImage(canvas, ws->cells, ws->history, kFrame, true, drawn.data());
    expectImage(canvas, expectedImage(true));
    EXPECT_EQ(drawn, std::vector<uint8_t>(3, 1));
    drawCalculationImage(canvas, ws->cells, ws->history, kFrame, true, drawn.data());
    expectImage(canvas, expectedImage(true));
}

TEST(TrackCalculationImage, WithoutIdentities) {
    auto ws = testing::makeWorkspace(kW, kH);
    Canvas canvas;
    buildFrame(*ws, canvas);
    std::vector<uint8_t> drawn(3, 0);
    drawCalculationImage(canvas, ws->cells, ws->history, kFrame, false, drawn.data());
    expectImage(canvas, expectedImage(false));
    EXPECT_EQ(drawn, std::vector<uint8_t>(3, 0));
}

}  // namespace
}  // namespace vanto
