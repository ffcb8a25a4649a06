#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "segment/segmentation.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

struct Disc {
    int32_t x, y, r;
};

// Dark discs of gray 60 on a background of 170 +- 8: background basins and peaks stay within
// 16 levels, the discs lie about 100 levels deep.
std::vector<uint8_t> discFrame(int32_t w, int32_t h, const std::vector<Disc>& discs, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> gray(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int32_t g = 162 + static_cast<int32_t>(rng() % 17);
            for (const Disc& d : discs) {
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) <= d.r * d.r) g = 60;
            }
            gray[y * w + x] = static_cast<uint8_t>(g);
        }
    }
    return gray;
}

// Checks every record against the pixels carrying its number: size, box, centre, small flag,
// fixed words, and that the pixels form one 4-connected piece.
void expectRecordsMatchLabels(const SegmentScratch& ws, int32_t count, int32_t smallCellArea) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    std::vector<int32_t> size(count, 0), minX(count, w), minY(count, h), maxX(count, -1), maxY(count, -1);
    std::vector<int32_t> first(count, -1);
    for (int32_t p = 0; p < w * h; ++p) {
        const int32_t c = ws.segLabels[p];
        if (c < 0) {
            EXPECT_EQ(c, -2);
            continue;
        }
        ASSERT_LT(c, count);
        if (first[c] < 0) first[c] = p;
        ++size[c];
        minX[c] = std::min(minX[c], p % w);
        maxX[c] = std::max(maxX[c], p % w);
        minY[c] = std::min(minY[c], p / w);
        maxY[c] = std::max(maxY[c], p / w);
    }
    for (int32_t c = 0; c < count; ++c) {
        const int32_t* r = cellRecord(ws.cellTable, c);
        EXPECT_EQ(r[CellWord::size], size[c]);
        EXPECT_EQ(r[CellWord::smallFlag], size[c] < smallCellArea ? 1 : 0);
        EXPECT_EQ(r[CellWord::relabelTo], c);
        EXPECT_EQ(r[CellWord::minX], minX[c]);
        EXPECT_EQ(r[CellWord::maxX], maxX[c]);
        EXPECT_EQ(r[CellWord::minY], minY[c]);
        EXPECT_EQ(r[CellWord::maxY], maxY[c]);
        EXPECT_EQ(r[CellWord::centerX], (minX[c] + maxX[c]) / 2);
        EXPECT_EQ(r[CellWord::centerY], (minY[c] + maxY[c]) / 2);
        EXPECT_EQ(r[CellWord::linkMark], -1);
        if (c > 0) {
            EXPECT_LT(first[c - 1], first[c]);  // raster order of first pixels
        }
        // One 4-connected piece.
        std::vector<int32_t> queue = {first[c]};
        std::vector<bool> seen(static_cast<size_t>(w) * h, false);
        seen[first[c]] = true;
        for (size_t i = 0; i < queue.size(); ++i) {
            const int32_t p = queue[i];
            const int32_t x = p % w, y = p / w;
            const int32_t nb[4][2] = {{x, y - 1}, {x, y + 1}, {x - 1, y}, {x + 1, y}};
            for (const auto& n : nb) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h) continue;
                const int32_t q = n[1] * w + n[0];
                if (!seen[q] && ws.segLabels[q] == c) {
                    seen[q] = true;
                    queue.push_back(q);
                }
            }
        }
        EXPECT_EQ(static_cast<int32_t>(queue.size()), size[c]);
    }
}

TEST(SegmentFrame, DarkDiscsOnANoisyBackgroundBecomeOneCellEach) {
    const int32_t w = 96, h = 72;
    const std::vector<Disc> discs = {{20, 20, 8}, {66, 24, 9}, {42, 52, 10}, {84, 60, 4}};
    const auto gray = discFrame(w, h, discs, 3);
    auto ws = testing::makeSegmentScratch(w, h);
    RunConfig config;
    config.threshold = 20;
    config.smallCellArea = 200;
    const int32_t count = ws->segment(gray.data(), config);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(ws->curCount, 4);
    expectRecordsMatchLabels(*ws, count, config.smallCellArea);
    // Every disc pixel belongs to its disc's cell, numbered in raster order of the discs.
    const int32_t cellOf[4] = {0, 1, 2, 3};
    for (size_t i = 0; i < discs.size(); ++i) {
        const Disc& d = discs[i];
        for (int32_t y = d.y - d.r; y <= d.y + d.r; ++y) {
            for (int32_t x = d.x - d.r; x <= d.x + d.r; ++x) {
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) <= d.r * d.r) {
                    EXPECT_EQ(ws->segLabels[y * w + x], cellOf[i]) << x << "," << y;
                }
            }
        }
        const int32_t* r = cellRecord(ws->cellTable, cellOf[i]);
        EXPECT_NEAR(r[CellWord::centerX], d.x, 1);
        EXPECT_NEAR(r[CellWord::centerY], d.y, 1);
    }
    // Growth adds a few pixels of rim: the disc of radius 4 (49 pixels) ends below 200, the
    // others (201 pixels and more) above.
    EXPECT_EQ(cellRecord(ws->cellTable, 3)[CellWord::smallFlag], 1);
    EXPECT_EQ(cellRecord(ws->cellTable, 0)[CellWord::smallFlag], 0);
}

TEST(SegmentFrame, UniformFrameHasNoCells) {
    auto ws = testing::makeSegmentScratch(40, 30);
    const std::vector<uint8_t> gray(1200, 128);
    RunConfig config;
    config.threshold = 0;
    EXPECT_EQ(ws->segment(gray.data(), config), 0);
    for (int32_t p = 0; p < 1200; ++p) EXPECT_EQ(ws->segLabels[p], -2);
}

TEST(SegmentFrame, RecordsStayConsistentOnRandomFrames) {
    // Rough random frames exercise cuts, merges and fills together; the outputs must still
    // describe 4-connected cells exactly.
    const int32_t w = 80, h = 60;
    auto ws = testing::makeSegmentScratch(w, h);
    std::mt19937 rng(11);
    for (int trial = 0; trial < 4; ++trial) {
        std::vector<uint8_t> gray(w * h);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const double wave = 60.0 * std::sin(x * 0.31 + trial) * std::cos(y * 0.27 - trial);
                gray[y * w + x] = static_cast<uint8_t>(128 + wave + static_cast<int>(rng() % 41) - 20);
            }
        }
        RunConfig config;
        config.threshold = 10 + 5 * trial;
        config.smallCellArea = 30;
        const int32_t count = ws->segment(gray.data(), config);
        ASSERT_GT(count, 0);
        ASSERT_LT(count, kCellLimit);
        expectRecordsMatchLabels(*ws, count, config.smallCellArea);
    }
}

}  // namespace
}  // namespace vanto
