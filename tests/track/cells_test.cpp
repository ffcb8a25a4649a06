#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "track/final_cells.h"
#include "track/fragment_merge.h"
#include "track/link_resolution.h"
#include "track_scene.h"

namespace vanto {
namespace {

using testing::TrackScene;

int32_t labelAt(const Workspace& ws, const int32_t* plane, int32_t x, int32_t y) {
    return plane[y * ws.cells.width + x];
}

TEST(TrackFragments, OneWayChainLeavesTwoPiecesOfOneLabel) {
    // Fragments 0 (X), 1 (Y), 2 (Z), 3 (W) of one previous cell, queued in that order: X and
    // Y take Z's label, then Z takes W's, so label 2 is left on two separate pieces.
    auto ws = testing::makeWorkspace(8, 4);
    ASSERT_EQ(testing::trackRows(*ws, 1, {"........", ".000000.", ".000000.", "........"}, 1, 1), TrackStatus::ok);
    ASSERT_EQ(testing::trackRows(*ws, 2, {"........", ".002211.", "...33...", "........"}, 4, 1), TrackStatus::ok);
    ASSERT_EQ(ws->cells.linkCount, 4);
    EXPECT_EQ(ws->cells.finalCount, 3);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 1, 1), 2);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 5, 1), 2);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 3, 1), 3);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 4, 2), 3);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 2, 1), 0);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 4, 2), 1);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 6, 1), 2);
    const int32_t* labelMap = ws->cells.pairMatrix;
    EXPECT_EQ(labelMap[0], -1);
    EXPECT_EQ(labelMap[1], -1);
    EXPECT_EQ(labelMap[2], 2);  // the later of its two pieces
    EXPECT_EQ(labelMap[3], 1);

    int32_t* slot = ws->history.slotOfFrame(2);
    EXPECT_EQ(linkEntry(slot, 0)[LinkWord::linkState], kLinkVanished);
    EXPECT_EQ(linkEntry(slot, 1)[LinkWord::linkState], kLinkVanished);
    for (int k = 2; k < 4; ++k) {
        const int32_t* e = linkEntry(slot, k);
        EXPECT_EQ(e[LinkWord::linkState], kLinkAccepted);
        EXPECT_EQ(e[LinkWord::carriedId], -1);  // one previous cell, two accepted links
    }
    EXPECT_EQ(linkEntry(slot, 2)[LinkWord::curIndex], 2);
    EXPECT_EQ(linkEntry(slot, 2)[LinkWord::curX], 5);
    EXPECT_EQ(linkEntry(slot, 3)[LinkWord::curIndex], 1);
    EXPECT_EQ(linkEntry(slot, 3)[LinkWord::curX], 3);
    EXPECT_EQ(linkEntry(slot, 3)[LinkWord::curY], 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(cellRecord(ws->cells.cellTable, i)[CellWord::cellId], 1 + i);
}

TEST(TrackFragments, ChainOfThreeTouchingFragments) {
    auto ws = testing::makeWorkspace(8, 3);
    testing::trackRows(*ws, 1, {"........", ".000000.", "........"}, 1, 1);
    testing::trackRows(*ws, 2, {"........", ".001122.", "........"}, 3, 1);
    EXPECT_EQ(cellRecord(ws->history.prevCellTable, 0)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(ws->cells.finalCount, 2);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 1, 1), 1);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 3, 1), 2);
    EXPECT_EQ(labelAt(*ws, ws->cells.segLabels, 6, 1), 2);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::size], 2);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 1)[CellWord::size], 4);
}

TEST(TrackFragments, UnlinkedFragmentTakesTheLastTouchingMatchedCell) {
    // M (0) and N (4) are matched; F (1) has no candidate and touches both; G (2) is small;
    // F2 (3) touches only the unmatched F.
    TrackScene s(30, 16);
    Workspace& ws = *s.ws;
    std::fill_n(ws.history.prevFrameLabels, ws.cells.pixelCount, -1);
    std::fill_n(ws.cells.segLabels, ws.cells.pixelCount, -1);
    testing::fillRect(ws.history.prevFrameLabels, 30, 0, 1, 3, 1, 0);
    testing::fillRect(ws.history.prevFrameLabels, 30, 22, 14, 22, 15, 1);
    testing::fillRect(ws.cells.segLabels, 30, 0, 1, 20, 1, 0);
    testing::fillRect(ws.cells.segLabels, 30, 21, 1, 24, 1, 1);
    testing::fillRect(ws.cells.segLabels, 30, 18, 0, 18, 0, 2);
    testing::fillRect(ws.cells.segLabels, 30, 24, 0, 27, 0, 3);
    testing::fillRect(ws.cells.segLabels, 30, 22, 2, 22, 15, 4);
    testing::writeRecords(ws.history.prevCellTable, ws.history.prevFrameLabels, 30, 16, 2, 2);
    testing::writeRecords(ws.cells.cellTable, ws.cells.segLabels, 30, 16, 5, 2);
    ws.history.prevCount = 2;
    ws.cells.curCount = 5;
    ASSERT_EQ(s.listCandidates(), 2);
    EXPECT_EQ(s.entry(0)[LinkWord::curIndex], 0);
    EXPECT_EQ(s.entry(1)[LinkWord::curIndex], 4);
    resolveLinks(ws.cells, ws.history, ws.scratch, s.slot());
    EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkUntouched);
    absorbUnlinkedFragments(ws.cells);
    const int32_t expected[5] = {0, 4, 2, 3, 4};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.cur(i)[CellWord::relabelTo], expected[i]) << i;
}

TEST(TrackFragments, HolesAreFilledOnlyInsideOneLabel) {
    TrackScene s(12, 7);
    s.setCur({"............", ".00000.1111.", ".0.0.0.1..2.", ".00000.1122.", "............", "333.........",
              "3.3........."},
             4, 1);
    Workspace& ws = *s.ws;
    relabelAndFillHoles(ws.cells, ws.scratch.holeFill(), ws.tables);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 2, 2), 0);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 4, 2), 0);
    EXPECT_LT(labelAt(ws, ws.cells.segLabels, 8, 2), 0);  // between cells 1 and 2
    EXPECT_LT(labelAt(ws, ws.cells.segLabels, 9, 2), 0);
    EXPECT_LT(labelAt(ws, ws.cells.segLabels, 1, 6), 0);  // open to the frame edge
    EXPECT_LT(labelAt(ws, ws.cells.segLabels, 0, 0), 0);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 10, 2), 2);

    // Relabelling runs first: once cell 2 takes cell 1's label the gap is enclosed by one label.
    s.setCur({"............", ".00000.1111.", ".0.0.0.1..2.", ".00000.1122.", "............", "333.........",
              "3.3........."},
             4, 1);
    s.cur(2)[CellWord::relabelTo] = 1;
    relabelAndFillHoles(ws.cells, ws.scratch.holeFill(), ws.tables);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 8, 2), 1);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 9, 2), 1);
    EXPECT_EQ(labelAt(ws, ws.cells.segLabels, 10, 3), 1);
    EXPECT_LT(labelAt(ws, ws.cells.segLabels, 1, 6), 0);
}

TEST(TrackFinalCells, ShapeMeasures) {
    auto ws = testing::makeWorkspace(20, 12);
    testing::paintPlane(ws->cells.segLabels, 20, 12,
                        {"....................", ".0...11111.....2....", "...............2....",
                         "...............2....", "...............2....", "...............2....",
                         "..333...............", "..333...............", "..333...............",
                         "....................", "..........5..5....44", "..................44"});
    for (int i = 0; i < kTableRecords; ++i) cellRecord(ws->cells.cellTable, i)[CellWord::reserved] = 77;
    ASSERT_EQ(labelFinalCells(ws->cells, ws->scratch.scratchInts, 5), 7);
    EXPECT_EQ(ws->cells.finalCount, 7);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 7)[CellWord::smallFlag], -1);

    struct Expect {
        int32_t size, small, circ, minW, minA, maxA, cx, cy;
    };
    const Expect expected[7] = {
        {1, 1, 4, 0, 90, 0, 1, 1},     // single pixel
        {5, 0, 12, 0, 90, 0, 7, 1},    // horizontal bar
        {5, 0, 12, 0, 0, 90, 15, 3},   // vertical bar
        {9, 0, 12, 200, 90, 135, 3, 7},  // 3 x 3 square
        {1, 1, 4, 0, 90, 0, 10, 10},   // first piece of label 5
        {1, 1, 4, 0, 90, 0, 13, 10},   // second piece of label 5
        {4, 1, 8, 0, 0, 0, 18, 10},    // 2 x 2 in the corner: edge sides count
    };
    for (int i = 0; i < 7; ++i) {
        const int32_t* r = cellRecord(ws->cells.cellTable, i);
        const Expect& e = expected[i];
        EXPECT_EQ(r[CellWord::size], e.size) << i;
        EXPECT_EQ(r[CellWord::smallFlag], e.small) << i;
        EXPECT_EQ(r[CellWord::circumference], e.circ) << i;
        if (i != 6) {
            EXPECT_EQ(r[CellWord::minWidth], e.minW) << i;
            EXPECT_EQ(r[CellWord::minWidthAngle], e.minA) << i;
            EXPECT_EQ(r[CellWord::maxWidthAngle], e.maxA) << i;
        }
        EXPECT_EQ(r[CellWord::centerX], e.cx) << i;
        EXPECT_EQ(r[CellWord::centerY], e.cy) << i;
        EXPECT_EQ(r[CellWord::relabelTo], 0) << i;
        EXPECT_EQ(r[CellWord::cellId], -1) << i;
        EXPECT_EQ(r[CellWord::life], 0) << i;
        EXPECT_EQ(r[CellWord::totalWay], 0) << i;
        EXPECT_EQ(r[CellWord::reserved], 77) << i;
        EXPECT_EQ(r[CellWord::linkMark], kMarkUntouched) << i;
        EXPECT_EQ(r[CellWord::idDrawn], 0) << i;
    }
    const int32_t* single = cellRecord(ws->cells.cellTable, 0);
    EXPECT_EQ(single[CellWord::maxWidth], 0);
    const int32_t* bar = cellRecord(ws->cells.cellTable, 1);
    EXPECT_GE(bar[CellWord::maxWidth], 399);
    EXPECT_LE(bar[CellWord::maxWidth], 400);
    EXPECT_EQ(bar[CellWord::minX], 5);
    EXPECT_EQ(bar[CellWord::maxX], 9);
    EXPECT_EQ(bar[CellWord::minY], 1);
    EXPECT_EQ(bar[CellWord::maxY], 1);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 2)[CellWord::maxWidth], 400);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 3)[CellWord::maxWidth], 282);

    const int32_t* labelMap = ws->cells.pairMatrix;
    const int32_t map[7] = {0, 1, 2, 3, 6, 5, -1};
    for (int l = 0; l < 7; ++l) EXPECT_EQ(labelMap[l], map[l]) << l;
    EXPECT_EQ(labelMap[kTableRecords - 1], -1);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 13, 10), 5);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 19, 11), 6);
    EXPECT_EQ(labelAt(*ws, ws->cells.frameLabels, 0, 0), -1);
}

TEST(TrackFinalCells, EmptyFrameHasOnlyTheEndMarker) {
    auto ws = testing::makeWorkspace(6, 4);
    std::fill_n(ws->cells.segLabels, ws->cells.pixelCount, -1);
    EXPECT_EQ(labelFinalCells(ws->cells, ws->scratch.scratchInts, 5), 0);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::smallFlag], -1);
    for (int64_t p = 0; p < ws->cells.pixelCount; ++p) EXPECT_EQ(ws->cells.frameLabels[p], -1);
}

// The widths over every pixel of the piece, straight from their definition.
void referenceWidths(const std::vector<std::pair<int, int>>& pixels, const int32_t* rec, int32_t out[4]) {
    const double cx = (rec[CellWord::minX] + rec[CellWord::maxX]) * 0.5;
    const double cy = (rec[CellWord::minY] + rec[CellWord::maxY]) * 0.5;
    double lo[60] = {}, hi[60] = {};
    for (auto [x, y] : pixels) {
        const double dx = cx - x, dy = cy - y;
        const double phi = std::atan2(dy, dx), r = std::sqrt(dx * dx + dy * dy);
        for (int k = 0; k < 60; ++k) {
            const double v = r * std::sin(phi - k * 3.0 / 180.0 * 3.1415927);
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
        }
    }
    double minW = 100000000, maxW = 0;
    out[0] = out[1] = out[2] = out[3] = 0;
    for (int k = 0; k < 60; ++k) {
        const double w = hi[k] - lo[k];
        if (w < minW) minW = w, out[1] = (90 + 3 * k) % 180;
        if (w > maxW) maxW = w, out[3] = (90 + 3 * k) % 180;
    }
    out[0] = static_cast<int32_t>(minW * 100);
    out[2] = static_cast<int32_t>(maxW * 100);
}

TEST(TrackFinalCells, WidthsOfIrregularPiecesMatchTheirDefinition) {
    // Random unions of discs and bars, some with holes: every width and angle must equal the
    // one computed over all pixels of the piece.
    const int32_t w = 48, h = 40;
    auto ws = testing::makeWorkspace(w, h);
    std::mt19937 rng(5);
    for (int trial = 0; trial < 60; ++trial) {
        std::fill_n(ws->cells.segLabels, ws->cells.pixelCount, -1);
        const int cx = 10 + static_cast<int>(rng() % 28), cy = 10 + static_cast<int>(rng() % 20);
        const int r1 = 2 + static_cast<int>(rng() % 8), r2 = 1 + static_cast<int>(rng() % 6);
        const int ox = static_cast<int>(rng() % 9) - 4, oy = static_cast<int>(rng() % 9) - 4;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int d1 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const int d2 = (x - cx - ox) * (x - cx - ox) + (y - cy - oy) * (y - cy - oy);
                const bool bar = trial % 3 == 0 && y == cy && x >= cx - 9 && x <= cx + 9;
                const bool hole = trial % 4 == 1 && d1 == 1;
                if ((d1 <= r1 * r1 || d2 <= r2 * r2 || bar) && !hole) ws->cells.segLabels[y * w + x] = 0;
            }
        }
        const int32_t pieces = labelFinalCells(ws->cells, ws->scratch.scratchInts, 0);
        ASSERT_GE(pieces, 1);
        for (int32_t i = 0; i < pieces; ++i) {
            std::vector<std::pair<int, int>> pixels;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (ws->cells.frameLabels[y * w + x] == i) pixels.emplace_back(x, y);
            const int32_t* rec = cellRecord(ws->cells.cellTable, i);
            int32_t expected[4];
            referenceWidths(pixels, rec, expected);
            EXPECT_EQ(rec[CellWord::minWidth], expected[0]) << "trial " << trial;
            EXPECT_EQ(rec[CellWord::minWidthAngle], expected[1]) << "trial " << trial;
            EXPECT_EQ(rec[CellWord::maxWidth], expected[2]) << "trial " << trial;
            EXPECT_EQ(rec[CellWord::maxWidthAngle], expected[3]) << "trial " << trial;
        }
    }
}

// Single pixels on every second row and column, all of segmentation label 0.
void paintDots(Workspace& ws, int32_t count) {
    std::fill_n(ws.cells.segLabels, ws.cells.pixelCount, -1);
    for (int32_t i = 0; i < count; ++i) ws.cells.segLabels[(i / 50) * 2 * ws.cells.width + (i % 50) * 2] = 0;
}

TEST(TrackFinalCells, LimitOfFinalCells) {
    auto ws = testing::makeWorkspace(100, 80);
    paintDots(*ws, kCellLimit - 1);
    ws->cells.linkCount = 5;  // stale: frame 1 has no links
    ASSERT_EQ(testing::trackSegmented(*ws, 1, 1, 1), TrackStatus::ok);
    EXPECT_EQ(ws->cells.linkCount, 0);
    EXPECT_EQ(ws->cells.finalCount, kCellLimit - 1);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, kCellLimit - 1)[CellWord::smallFlag], -1);
    EXPECT_EQ(ws->cells.pairMatrix[0], kCellLimit - 2);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, kCellLimit - 2)[CellWord::cellId], kCellLimit - 2);
    EXPECT_EQ(ws->history.nextCellId, kCellLimit - 1);

    auto full = testing::makeWorkspace(100, 80);
    paintDots(*full, kCellLimit);
    EXPECT_EQ(testing::trackSegmented(*full, 1, 1, 1), TrackStatus::tooManyCells);
    paintDots(*full, kCellLimit);
    EXPECT_EQ(labelFinalCells(full->cells, full->scratch.scratchInts, 1), kCellLimit);
    EXPECT_EQ(cellRecord(full->cells.cellTable, kCellLimit - 1)[CellWord::smallFlag], -1);
}

}  // namespace
}  // namespace vanto
