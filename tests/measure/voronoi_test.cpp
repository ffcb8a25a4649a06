#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "compute/host_kernels.h"
#include "image/canvas.h"
#include "measure/voronoi_image.h"
#include "measure/voronoi_neighbours.h"
#include "model/records.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

// Final records 0 .. centres.size() - 1 with the given centres, voronoiArea 0, then the end marker.
void setCells(Workspace& ws, const std::vector<std::pair<int, int>>& centres, const std::vector<int>& small = {}) {
    const auto n = static_cast<int32_t>(centres.size());
    for (int32_t i = 0; i < n; ++i) {
        int32_t* r = cellRecord(ws.cells.cellTable, i);
        std::fill_n(r, kCellWords, 0);
        r[CellWord::centerX] = centres[i].first;
        r[CellWord::centerY] = centres[i].second;
        r[CellWord::smallFlag] = i < static_cast<int32_t>(small.size()) ? small[i] : 0;
        r[CellWord::cellId] = i;
    }
    cellRecord(ws.cells.cellTable, n)[CellWord::smallFlag] = -1;
    ws.cells.finalCount = n;
}

int32_t area(const Workspace& ws, int32_t i) { return cellRecord(ws.cells.cellTable, i)[CellWord::voronoiArea]; }

std::vector<int32_t> pairs(const Workspace& ws) {
    return {ws.cells.voronoiPairs, ws.cells.voronoiPairs + ws.cells.voronoiPairCount};
}

TEST(MeasureVoronoiNeighbours, OneCellOwnsTheWholeFrame) {
    auto ws = testing::makeWorkspace(6, 5);
    setCells(*ws, {{2, 3}});
    addOneHost(ws->cells.cellTable, 6, 5, ws->cells.nearestCellMap);
    countVoronoiNeighbours(ws->cells, ws->tables);
    EXPECT_EQ(area(*ws, 0), 30);
    EXPECT_EQ(ws->cells.voronoiPairCount, 0);
}

TEST(MeasureVoronoiNeighbours, CornerContactIsNoPairAndPairsFollowFirstDiscovery) {
    // 0 1
    // 2 3   -- 0/3 and 1/2 meet only at the centre corner.
    auto ws = testing::makeWorkspace(2, 2);
    setCells(*ws, {{0, 0}, {1, 0}, {0, 1}, {1, 1}});
    const int32_t map[4] = {0, 1, 2, 3};
    std::copy_n(map, 4, ws->cells.nearestCellMap);
    countVoronoiNeighbours(ws->cells, ws->tables);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(area(*ws, i), 1);
    // Pixel 0 meets 2 below before 1 to its right (neighbour order up, down, left, right);
    // pixel 1 then finds 3 below, pixel 2 finds 3 to its right.
    EXPECT_EQ(pairs(*ws), (std::vector<int32_t>{2 * 4 + 0, 1 * 4 + 0, 3 * 4 + 1, 3 * 4 + 2}));
}

TEST(MeasureVoronoiNeighbours, ThreeCellsInARowGiveTwoPairs) {
    auto ws = testing::makeWorkspace(12, 4);
    setCells(*ws, {{1, 1}, {5, 1}, {10, 1}});
    addOneHost(ws->cells.cellTable, 12, 4, ws->cells.nearestCellMap);
    countVoronoiNeighbours(ws->cells, ws->tables);
    // Columns 0..3 go to A (column 3 ties A and B; the lower index wins), 4..7 to B, 8..11 to C.
    EXPECT_EQ(area(*ws, 0), 16);
    EXPECT_EQ(area(*ws, 1), 16);
    EXPECT_EQ(area(*ws, 2), 16);
    EXPECT_EQ(pairs(*ws), (std::vector<int32_t>{1 * 3 + 0, 2 * 3 + 1}));
}

TEST(MeasureVoronoiNeighbours, MatchesASimpleModelOnRandomCentres) {
    const int32_t w = 23, h = 17;
    auto ws = testing::makeWorkspace(w, h);
    std::mt19937 rng(7);
    for (int round = 0; round < 5; ++round) {
        std::vector<std::pair<int, int>> centres;
        const int n = 3 + round * 4;
        for (int i = 0; i < n; ++i) centres.push_back({int(rng() % w), int(rng() % h)});
        setCells(*ws, centres);
        std::fill_n(ws->cells.pairMatrix, kMatrixEntries, 1);  // stale flags from earlier stages
        addOneHost(ws->cells.cellTable, w, h, ws->cells.nearestCellMap);
        countVoronoiNeighbours(ws->cells, ws->tables);

        std::vector<int> areas(n, 0);
        std::set<int32_t> touching;
        const int32_t* m = ws->cells.nearestCellMap;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int a = m[y * w + x];
                ++areas[a];
                if (x + 1 < w && m[y * w + x + 1] != a) touching.insert(std::max(a, m[y * w + x + 1]) * n + std::min(a, m[y * w + x + 1]));
                if (y + 1 < h && m[(y + 1) * w + x] != a) touching.insert(std::max(a, m[(y + 1) * w + x]) * n + std::min(a, m[(y + 1) * w + x]));
            }
        }
        int total = 0;
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(area(*ws, i), areas[i]) << "cell " << i;
            total += area(*ws, i);
        }
        EXPECT_EQ(total, w * h);
        const std::vector<int32_t> listed = pairs(*ws);
        EXPECT_EQ(std::set<int32_t>(listed.begin(), listed.end()), touching);
        EXPECT_EQ(listed.size(), touching.size()) << "a pair is listed twice";
    }
}

TEST(MeasureVoronoiNeighbours, CellWithoutPixelsAndValuesOutsideTheTableAreLeftAlone) {
    auto ws = testing::makeWorkspace(4, 1);
    setCells(*ws, {{0, 0}, {1, 0}, {3, 0}});
    cellRecord(ws->cells.cellTable, 5)[CellWord::voronoiArea] = 0;
    const int32_t map[4] = {0, 5, 2, -1};
    std::copy_n(map, 4, ws->cells.nearestCellMap);
    countVoronoiNeighbours(ws->cells, ws->tables);
    EXPECT_EQ(area(*ws, 0), 1);
    EXPECT_EQ(area(*ws, 1), 0);
    EXPECT_EQ(area(*ws, 2), 1);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 5)[CellWord::voronoiArea], 0);
    EXPECT_EQ(ws->cells.voronoiPairCount, 0);
}

TEST(MeasureVoronoiNeighbours, FrameWithoutCellsTouchesNothing) {
    auto ws = testing::makeWorkspace(6, 5);
    setCells(*ws, {});
    const int32_t* first = cellRecord(ws->cells.cellTable, 0);
    const std::vector<int32_t> marker(first, first + kCellWords);
    std::fill_n(ws->cells.pairMatrix, 64, 7);
    addOneHost(ws->cells.cellTable, 6, 5, ws->cells.nearestCellMap);
    countVoronoiNeighbours(ws->cells, ws->tables);
    EXPECT_EQ(ws->cells.voronoiPairCount, 0);
    EXPECT_EQ(std::vector<int32_t>(first, first + kCellWords), marker);
    EXPECT_TRUE(std::all_of(ws->cells.pairMatrix, ws->cells.pairMatrix + 64, [](int32_t v) { return v == 7; }));
}

// Colour of pixel (x, y) as r, g, b.
std::vector<int> colour(const Canvas& c, int x, int y) {
    const uint8_t* p = c.rgbAt(x, y);
    return {p[2], p[1], p[0]};
}

TEST(MeasureVoronoiImage, OutlinesBordersAndLinesInDrawingOrder) {
    // 8 x 6: cell 0 (not small) covers x 0..2, y 0..2 at the top-left corner; cell 1 (small)
    // covers (6, 4) and (7, 4). Regions: columns 0..3 to cell 0, 4..7 to cell 1.
    const int w = 8, h = 6;
    auto ws = testing::makeWorkspace(w, h);
    setCells(*ws, {{1, 1}, {6, 4}}, {0, 1});
    std::fill_n(ws->cells.frameLabels, w * h, -1);
    for (int y = 0; y <= 2; ++y)
        for (int x = 0; x <= 2; ++x) ws->cells.frameLabels[y * w + x] = 0;
    ws->cells.frameLabels[4 * w + 6] = ws->cells.frameLabels[4 * w + 7] = 1;
    for (int p = 0; p < w * h; ++p) ws->cells.nearestCellMap[p] = p % w < 4 ? 0 : 1;
    ws->cells.voronoiPairCount = 1;
    ws->cells.voronoiPairs[0] = 1 * 2 + 0;

    Canvas canvas;
    canvas.createCanvas(w, h);
    std::fill(canvas.gray.begin(), canvas.gray.end(), 100);
    drawVoronoiImage(canvas, ws->cells);

    // Pixels of the line (1, 1) -> (6, 4), sampled as the canvas does.
    std::set<std::pair<int, int>> line;
    for (int k = 0; k <= 1000; ++k) {
        const double t = k / 1000.0;
        line.insert({int(6 * t + 1 * (1 - t)), int(4 * t + 1 * (1 - t))});
    }
    // Cell 0's outline: its pixels next to another label inside the frame (not the frame edge).
    const std::set<std::pair<int, int>> outline = {{2, 0}, {2, 1}, {2, 2}, {0, 2}, {1, 2}};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::vector<int> expected = {100, 100, 100};
            if (outline.count({x, y})) expected = {255, 0, 0};
            if (x == 3 || x == 4) expected = {0, 0, 255};
            if (line.count({x, y})) expected = {255, 255, 0};
            EXPECT_EQ(colour(canvas, x, y), expected) << "pixel " << x << "," << y;
        }
    }
    // The small cell's pixel off the line stays gray; the line crosses the blue border.
    EXPECT_EQ(colour(canvas, 7, 4), (std::vector<int>{100, 100, 100}));
    EXPECT_TRUE(line.count({3, 2}) || line.count({4, 2}) || line.count({3, 3}) || line.count({4, 3}));
}

TEST(MeasureVoronoiImage, OneCellHasNoBordersAndNoLines) {
    const int w = 6, h = 5;
    auto ws = testing::makeWorkspace(w, h);
    Canvas canvas;
    canvas.createCanvas(w, h);
    std::fill(canvas.gray.begin(), canvas.gray.end(), 40);
    for (int smallFlag = 0; smallFlag <= 1; ++smallFlag) {
        setCells(*ws, {{2, 2}}, {smallFlag});
        std::fill_n(ws->cells.frameLabels, w * h, -1);
        ws->cells.frameLabels[2 * w + 2] = 0;
        addOneHost(ws->cells.cellTable, w, h, ws->cells.nearestCellMap);
        countVoronoiNeighbours(ws->cells, ws->tables);
        drawVoronoiImage(canvas, ws->cells);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool red = smallFlag == 0 && x == 2 && y == 2;
                const std::vector<int> expected = red ? std::vector<int>{255, 0, 0} : std::vector<int>{40, 40, 40};
                EXPECT_EQ(colour(canvas, x, y), expected)
                    << "small " << smallFlag << " pixel " << x << "," << y;
            }
        }
    }
}

// Random labels (with -1 and -2 for no cell) and a random nearest-cell map, with no lines:
// every pixel against the image's definition, asked pixel by pixel with its in-frame
// 4-neighbours. Blue over red over gray.
TEST(MeasureVoronoiImage, RandomPlanesGiveTheOutlinesAndBordersOfTheDefinition) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 30), h = 1 + static_cast<int>(rng() % 20);
        auto ws = testing::makeWorkspace(w, h);
        const int n = 1 + static_cast<int>(rng() % 5);
        std::vector<std::pair<int, int>> centres(n, {0, 0});
        std::vector<int> small(n);
        for (auto& f : small) f = static_cast<int>(rng() % 2);
        setCells(*ws, centres, small);
        ws->cells.voronoiPairCount = 0;
        // Runs of equal values, so that insides and edges both occur.
        for (int p = 0; p < w * h; ++p) {
            ws->cells.frameLabels[p] = p > 0 && rng() % 3 ? ws->cells.frameLabels[p - 1] : static_cast<int>(rng() % (n + 2)) - 2;
            ws->cells.nearestCellMap[p] = p > 0 && rng() % 4 ? ws->cells.nearestCellMap[p - 1] : static_cast<int>(rng() % n);
        }
        Canvas canvas;
        canvas.createCanvas(w, h);
        std::fill(canvas.gray.begin(), canvas.gray.end(), 77);
        drawVoronoiImage(canvas, ws->cells);
        const auto differs = [&](const int32_t* plane, int x, int y) {
            const int v = plane[y * w + x];
            return (x > 0 && plane[y * w + x - 1] != v) || (y > 0 && plane[(y - 1) * w + x] != v) ||
                   (x < w - 1 && plane[y * w + x + 1] != v) || (y < h - 1 && plane[(y + 1) * w + x] != v);
        };
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int l = ws->cells.frameLabels[y * w + x];
                std::vector<int> expected = {77, 77, 77};
                if (l >= 0 && small[l] == 0 && differs(ws->cells.frameLabels, x, y)) expected = {255, 0, 0};
                if (differs(ws->cells.nearestCellMap, x, y)) expected = {0, 0, 255};
                ASSERT_EQ(colour(canvas, x, y), expected) << "trial " << trial << ", pixel " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace vanto
