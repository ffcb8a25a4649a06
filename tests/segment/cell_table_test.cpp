#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "segment/cell_table.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

// Region picture: a digit is a region id, '.' no region (-2).
std::unique_ptr<testing::SegmentBench> regionsOf(const std::vector<std::string>& rows) {
    const int32_t h = static_cast<int32_t>(rows.size());
    const int32_t w = static_cast<int32_t>(rows[0].size());
    auto ws = testing::makeSegmentScratch(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) ws->segLabels[y * w + x] = rows[y][x] == '.' ? -2 : rows[y][x] - '0';
    }
    return ws;
}

std::vector<int32_t> labels(const SegmentScratch& ws) { return {ws.segLabels, ws.segLabels + ws.pixelCount}; }

TEST(CellTable, PiecesOfOneRegionAreSeparateCells) {
    // Region 5 in three pieces: (0..1, 0), (3, 0) and (4, 1), the last two touching only at a
    // corner.
    auto ws = regionsOf({"55.5..", "....5.", "......"});
    EXPECT_EQ(buildCellTable(*ws, 0), 3);
    EXPECT_EQ(ws->curCount, 3);
    EXPECT_EQ(labels(*ws), (std::vector<int32_t>{0, 0, -2, 1, -2, -2, -2, -2, -2, -2, 2, -2, -2, -2, -2, -2, -2, -2}));
    EXPECT_EQ(cellRecord(ws->cellTable, 0)[CellWord::size], 2);
    EXPECT_EQ(cellRecord(ws->cellTable, 2)[CellWord::minX], 4);
    EXPECT_EQ(cellRecord(ws->cellTable, 2)[CellWord::minY], 1);
}

TEST(CellTable, CellsAreNumberedInRasterOrderWithoutMixing) {
    // Region 1 is met first and becomes cell 0; its neighbour, region 0, becomes cell 1 and
    // must not spread into the renumbered pixels. Region 7 below becomes cell 2.
    auto ws = regionsOf({"1100", "....", "7777"});
    EXPECT_EQ(buildCellTable(*ws, 0), 3);
    EXPECT_EQ(labels(*ws), (std::vector<int32_t>{0, 0, 1, 1, -2, -2, -2, -2, 2, 2, 2, 2}));
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(cellRecord(ws->cellTable, c)[CellWord::size], c == 2 ? 4 : 2);
}

TEST(CellTable, RecordHoldsBoundingBoxCentreAndFixedWords) {
    // An L: columns 3..6 of row 10 and (3, 11), (3, 12). Box 3..6 x 10..12, centre (4, 11),
    // 6 pixels although the box holds 12.
    std::vector<std::string> rows(14, std::string(9, '.'));
    rows[10] = "...2222..";
    rows[11] = "...2.....";
    rows[12] = "...2.....";
    auto ws = regionsOf(rows);
    EXPECT_EQ(buildCellTable(*ws, 7), 1);
    const int32_t* r = cellRecord(ws->cellTable, 0);
    const int32_t expected[kCellWords] = {1, 6, 0, 0, 0, 0, 4, 11, 0, 0, 3, 10, 6, 12, 0, 0, 0, 0, -1, 0};
    for (int i = 0; i < kCellWords; ++i) EXPECT_EQ(r[i], expected[i]) << "word " << i;
}

TEST(CellTable, SingleRowCellCentre) {
    auto ws = regionsOf({"........", "...3333.", "........"});
    EXPECT_EQ(buildCellTable(*ws, 0), 1);
    const int32_t* r = cellRecord(ws->cellTable, 0);
    EXPECT_EQ(r[CellWord::centerX], 4);
    EXPECT_EQ(r[CellWord::centerY], 1);
    EXPECT_EQ(r[CellWord::size], 4);
    EXPECT_EQ(r[CellWord::smallFlag], 0);
}

TEST(CellTable, SmallFlagIsBelowTheSmallCellArea) {
    // Row 0: 49 pixels of region 1; row 2: 50 pixels of region 1.
    auto ws = regionsOf({std::string(49, '1') + ".", std::string(50, '.'), std::string(50, '1')});
    EXPECT_EQ(buildCellTable(*ws, 50), 2);
    EXPECT_EQ(cellRecord(ws->cellTable, 0)[CellWord::size], 49);
    EXPECT_EQ(cellRecord(ws->cellTable, 0)[CellWord::smallFlag], 1);
    EXPECT_EQ(cellRecord(ws->cellTable, 1)[CellWord::size], 50);
    EXPECT_EQ(cellRecord(ws->cellTable, 1)[CellWord::smallFlag], 0);
}

TEST(CellTable, FrameWithoutRegionsLeavesTheTableUntouched) {
    auto ws = regionsOf({"....", "...."});
    std::fill_n(ws->cellTable, kCellWords, 12345);
    EXPECT_EQ(buildCellTable(*ws, 10), 0);
    EXPECT_EQ(ws->curCount, 0);
    for (int i = 0; i < kCellWords; ++i) EXPECT_EQ(ws->cellTable[i], 12345);
}

// Isolated one-pixel cells of region 7 at even columns and rows of a 100-wide frame, the
// first `cells` of them in raster order.
std::unique_ptr<testing::SegmentBench> gridOf(int32_t rows, int32_t cells) {
    auto ws = testing::makeSegmentScratch(100, rows);
    std::fill_n(ws->segLabels, ws->pixelCount, -2);
    for (int32_t i = 0; i < cells; ++i) ws->segLabels[(i / 50) * 2 * 100 + (i % 50) * 2] = 7;
    return ws;
}

TEST(CellTable, TheTwoThousandthCellStopsTheFrame) {
    auto fits = gridOf(80, 1999);
    EXPECT_EQ(buildCellTable(*fits, 0), 1999);
    EXPECT_EQ(fits->curCount, 1999);

    auto limit = gridOf(80, 2000);
    EXPECT_EQ(buildCellTable(*limit, 0), kCellLimit);
    EXPECT_EQ(cellRecord(limit->cellTable, 1999)[CellWord::size], 1);
    EXPECT_EQ(limit->segLabels[78 * 100 + 98], 1999);

    // With 2,050 candidates the scan stops at the 2,000th: the next one keeps its region id.
    auto beyond = gridOf(82, 2050);
    EXPECT_EQ(buildCellTable(*beyond, 0), kCellLimit);
    EXPECT_EQ(beyond->segLabels[78 * 100 + 98], 1999);
    EXPECT_EQ(beyond->segLabels[80 * 100 + 0], 7);
}

}  // namespace
}  // namespace vanto
