// -split on drawn cells whose answer is known by construction: two touching discs give two
// cells, a disc and an ellipse stay one, a depth above the neck's dynamic keeps a pair whole,
// three discs in a row give three; the distance transform against every pixel's brute-force
// distance; random blobs divided into one part per seed of the definition (dynamics from
// brute-force paths), each pixel in the part a plain priority flood gives; the whole
// segmentation of a drawn frame with and without the option.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <queue>
#include <random>
#include <set>
#include <vector>

#include "model/records.h"
#include "segment/cell_splitting.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

struct Disc {
    double x, y, rx, ry;
};

// A w x h label plane: cell 0 is the union of the discs (one 4-connected piece), -1 elsewhere;
// other cells can be added by the caller.
struct SplitScene {
    int32_t w, h;
    std::vector<int32_t> labels;
    SplitScene(int32_t width, int32_t height) : w(width), h(height), labels(static_cast<size_t>(width) * height, -1) {}

    void draw(const std::vector<Disc>& discs, int32_t cell) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                for (const Disc& d : discs) {
                    const double u = (x - d.x) / d.rx, v = (y - d.y) / d.ry;
                    if (u * u + v * v <= 1) labels[y * w + x] = cell;
                }
    }
    int32_t at(double x, double y) const {
        return labels[static_cast<int32_t>(std::lround(y)) * w + static_cast<int32_t>(std::lround(x))];
    }

    // A cell table with the bounding boxes of cells 0..count-1.
    std::vector<int32_t> boxes(int32_t count) const {
        std::vector<int32_t> table(static_cast<size_t>(kTableRecords) * kCellWords, 0);
        for (int32_t c = 0; c < count; ++c) {
            int32_t* rec = cellRecord(table.data(), c);
            rec[CellWord::minX] = rec[CellWord::minY] = INT32_MAX;
            rec[CellWord::maxX] = rec[CellWord::maxY] = -1;
        }
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (const int32_t c = labels[y * w + x]; c >= 0) {
                    int32_t* rec = cellRecord(table.data(), c);
                    rec[CellWord::minX] = std::min(rec[CellWord::minX], x);
                    rec[CellWord::maxX] = std::max(rec[CellWord::maxX], x);
                    rec[CellWord::minY] = std::min(rec[CellWord::minY], y);
                    rec[CellWord::maxY] = std::max(rec[CellWord::maxY], y);
                }
        return table;
    }
    // -split with depth H on cells 0..count-1.
    int32_t split(int32_t count, double depth) {
        const std::vector<int32_t> table = boxes(count);
        const int64_t n = int64_t{w} * h;
        distance.assign((w + 2) * (h + 2), -7);
        marks.assign(n, -7);
        heights.assign(n, -7);
        order.assign(n, -7);
        queue.assign(n + 1, -7);
        envelope.assign(3 * (w + 2), -7);
        const SplitPlanes planes{distance.data(), marks.data(),  heights.data(),
                                 order.data(),    queue.data(), envelope.data()};
        return splitTouchingCells(labels.data(), w, h, table.data(), count, depth, planes);
    }
    // -split-gray H over the gray frame (w x h); heights keeps the heights it flooded.
    int32_t splitByGray(int32_t count, double depth, const std::vector<uint8_t>& gray) {
        split(0, 1);  // sizes the planes; no cell is looked at
        const std::vector<int32_t> table = boxes(count);
        std::vector<int32_t> columnPass(static_cast<size_t>(w) * h, -7);
        heights.assign(static_cast<size_t>(w) * h, -7);
        grayHeights(gray.data(), w, h, columnPass.data(), heights.data());
        const SplitPlanes planes{distance.data(), marks.data(), nullptr, order.data(), queue.data(), envelope.data()};
        return splitCellsByGray(labels.data(), w, h, table.data(), count, heights.data(), depth, planes);
    }
    // The pixels of each number, and whether each number's pixels form one 4-connected piece.
    std::vector<int32_t> areas() const {
        std::vector<int32_t> a;
        for (int32_t v : labels)
            if (v >= 0) {
                if (static_cast<size_t>(v) >= a.size()) a.resize(v + 1, 0);
                ++a[v];
            }
        return a;
    }
    bool connected(int32_t number) const {
        std::vector<int32_t> stack;
        std::vector<bool> seen(labels.size(), false);
        const auto first = std::find(labels.begin(), labels.end(), number);
        if (first == labels.end()) return false;
        stack.push_back(static_cast<int32_t>(first - labels.begin()));
        seen[stack.back()] = true;
        int64_t reached = 0;
        while (!stack.empty()) {
            const int32_t p = stack.back();
            stack.pop_back();
            ++reached;
            const int32_t x = p % w, y = p / w;
            for (const auto& [xx, yy] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}}) {
                if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
                const int32_t q = yy * w + xx;
                if (labels[q] == number && !seen[q]) {
                    seen[q] = true;
                    stack.push_back(q);
                }
            }
        }
        return reached == std::count(labels.begin(), labels.end(), number);
    }
    std::vector<int32_t> distance, marks, heights, envelope;
    std::vector<int64_t> order, queue;
};

// Two discs of radius 10, 16 apart: the neck is 2 sqrt(100 - 64) = 12 wide, so the distance
// falls from about 10 at each centre to about 6 at the neck, a dynamic of about 4.
const std::vector<Disc> kPair = {{20, 20, 10, 10}, {36, 20, 10, 10}};

TEST(CellSplitting, TwoTouchingDiscsBecomeTwoCellsCutAtTheNeck) {
    SplitScene s(56, 40);
    s.draw(kPair, 0);
    const std::vector<int32_t> before = s.labels;
    EXPECT_EQ(s.split(1, 2.0), 1);
    // The first part (the higher seed, the lower index at equal height) keeps number 0.
    const auto areas = s.areas();
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(s.at(20, 20), 0);
    EXPECT_EQ(s.at(36, 20), 1);
    EXPECT_TRUE(s.connected(0));
    EXPECT_TRUE(s.connected(1));
    // The cut runs through the neck: by symmetry the halves differ by the cut column at most.
    EXPECT_LE(std::abs(areas[0] - areas[1]), 13);
    for (int32_t y = 0; y < s.h; ++y)
        for (int32_t x = 0; x < s.w; ++x) {
            const int32_t v = s.labels[y * s.w + x];
            EXPECT_EQ(v >= 0, before[y * s.w + x] >= 0);  // no pixel gained or lost
            if (x < 27) {
                EXPECT_NE(v, 1) << x << "," << y;
            }
            if (x > 29) {
                EXPECT_NE(v, 0) << x << "," << y;
            }
        }
}

TEST(CellSplitting, ADepthAboveTheNecksDynamicKeepsThePairWhole) {
    for (double depth : {5.0, 6.0, 50.0}) {
        SplitScene s(56, 40);
        s.draw(kPair, 0);
        const auto before = s.labels;
        EXPECT_EQ(s.split(1, depth), 0) << depth;
        EXPECT_EQ(s.labels, before) << depth;
    }
    SplitScene s(56, 40);
    s.draw(kPair, 0);
    EXPECT_EQ(s.split(1, 3.0), 1);
}

TEST(CellSplitting, ADiscAnEllipseAndAnIrregularBlobStayOne) {
    SplitScene s(120, 50);
    s.draw({{20, 25, 12, 12}}, 0);
    s.draw({{60, 25, 20, 8}}, 1);                      // long ellipse: its ridge is flat
    s.draw({{95, 25, 10, 12}, {101, 22, 7, 6}}, 2);    // a bulge, not a neck
    const auto before = s.labels;
    EXPECT_EQ(s.split(3, 1.0), 0);
    EXPECT_EQ(s.labels, before);
}

TEST(CellSplitting, ThreeDiscsInARowGiveThreeCellsAndOtherCellsKeepTheirNumbers) {
    SplitScene s(90, 50);
    s.draw({{6, 6, 4, 4}}, 0);  // a small cell before, one after
    s.draw({{20, 25, 10, 10}, {36, 25, 10, 10}, {52, 25, 10, 10}}, 1);
    s.draw({{80, 40, 5, 5}}, 2);
    EXPECT_EQ(s.split(3, 2.0), 1);
    const auto areas = s.areas();
    ASSERT_EQ(areas.size(), 5u);  // the new parts are numbered from the cell count up
    EXPECT_EQ(s.at(6, 6), 0);
    EXPECT_EQ(s.at(80, 40), 2);
    const std::set<int32_t> parts = {s.at(20, 25), s.at(36, 25), s.at(52, 25)};
    EXPECT_EQ(parts, (std::set<int32_t>{1, 3, 4}));
    for (int32_t part : parts) EXPECT_TRUE(s.connected(part)) << part;
    // The middle disc has two necks, so it is the smallest part; the end ones mirror each other
    // (up to the pixels of the cut, which the fixed tie order gives to one side).
    EXPECT_NEAR(areas[s.at(20, 25)], areas[s.at(52, 25)], 20);
    EXPECT_LT(areas[s.at(36, 25)], areas[s.at(20, 25)]);
}

TEST(CellSplitting, APairCutByTheFrameEdgeAndAPairInTheSameBoxSplitAlike) {
    // The frame's edge counts as the cell's edge, so two half discs cut by it still have two
    // maxima (about 5 high, a neck about 3.3 high); the second pair's box overlaps the first's.
    SplitScene s(64, 30);
    s.draw({{8, 0, 10, 10}, {23, 0, 10, 10}}, 0);
    s.draw({{40, 16, 8, 8}, {52, 16, 8, 8}}, 1);
    const auto before = s.labels;
    EXPECT_EQ(s.split(2, 1.0), 2);
    EXPECT_NE(s.at(6, 3), s.at(25, 3));
    EXPECT_NE(s.at(40, 16), s.at(52, 16));
    EXPECT_EQ(s.areas().size(), 4u);
    for (int32_t part = 0; part < 4; ++part) EXPECT_TRUE(s.connected(part)) << part;
    s.labels = before;
    EXPECT_EQ(s.split(2, 2.0), 1) << "the half discs' dynamic is below 2, the whole pair's above";
    EXPECT_EQ(s.at(6, 3), s.at(25, 3));
}

// Frames of side minSide + 0 .. sideSpread - 1 with discs of radius minRadius + 0 .. 8.
void checkEdgeDistances(unsigned seed, int trials, int32_t minSide, uint32_t sideSpread, double minRadius) {
    std::mt19937 rng(seed);
    for (int trial = 0; trial < trials; ++trial) {
        const int32_t w = minSide + static_cast<int32_t>(rng() % sideSpread),
                      h = minSide + static_cast<int32_t>(rng() % sideSpread);
        SplitScene s(w, h);
        // Random blobs and holes, some at the frame's edge; the cell is all pixels of number 0
        // (the transform does not need it connected).
        std::vector<Disc> discs;
        for (int k = 0; k < 4; ++k)
            discs.push_back({static_cast<double>(rng() % w), static_cast<double>(rng() % h), minRadius + rng() % 9,
                             minRadius + rng() % 9});
        s.draw(discs, 0);
        s.draw({{static_cast<double>(rng() % w), static_cast<double>(rng() % h), 1.5, 2.5}}, 1);
        int32_t minX = w, minY = h, maxX = -1, maxY = -1;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (s.labels[y * w + x] == 0) {
                    minX = std::min(minX, x), maxX = std::max(maxX, x);
                    minY = std::min(minY, y), maxY = std::max(maxY, y);
                }
        if (maxX < 0) continue;
        const int32_t bw = maxX - minX + 3, bh = maxY - minY + 3;
        std::vector<int32_t> d2(bw * bh, -1), envelope(3 * bw, -1);
        cellEdgeDistances(s.labels.data(), w, 0, minX, minY, maxX, maxY, d2.data(), envelope.data());
        for (int32_t ly = 0; ly < bh; ++ly)
            for (int32_t lx = 0; lx < bw; ++lx) {
                const int32_t x = minX - 1 + lx, y = minY - 1 + ly;
                const auto ofCell = [&](int32_t xx, int32_t yy) {
                    return xx >= 0 && yy >= 0 && xx < w && yy < h && s.labels[yy * w + xx] == 0;
                };
                int32_t best = INT32_MAX;
                if (ofCell(x, y))
                    for (int32_t yy = -1; yy <= h; ++yy)
                        for (int32_t xx = -1; xx <= w; ++xx)
                            if (!ofCell(xx, yy)) best = std::min(best, (xx - x) * (xx - x) + (yy - y) * (yy - y));
                ASSERT_EQ(d2[ly * bw + lx], ofCell(x, y) ? best : 0) << trial << " at " << x << "," << y;
            }
    }
}

TEST(CellSplitting, EdgeDistancesEqualTheBruteForceDistance) { checkEdgeDistances(11, 30, 8, 30, 2.0); }

// Rows whose vertical distances stay small are searched over the whole row at once, deeper rows
// (vertical distances past 48) take the lower envelope of parabolas: large discs give cells
// with rows of both kinds.
TEST(CellSplitting, EdgeDistancesOfLargeCellsEqualTheBruteForceDistance) {
    checkEdgeDistances(5, 5, 60, 25, 24.0);
    checkEdgeDistances(6, 2, 120, 20, 50.0);
}

// The squared distance of each pixel of cell 0 to the nearest pixel not of it (outside the
// frame counts as not of it), brute force; 0 off the cell.
std::vector<int32_t> bruteForceDistances(const SplitScene& s) {
    const int32_t w = s.w, h = s.h, n = w * h;
    const auto ofCell = [&](int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < w && y < h && s.labels[y * w + x] == 0; };
    std::vector<int32_t> d2(n, 0);
    for (int32_t p = 0; p < n; ++p) {
        if (!ofCell(p % w, p / w)) continue;
        int32_t best = INT32_MAX;
        for (int32_t yy = -1; yy <= h; ++yy)
            for (int32_t xx = -1; xx <= w; ++xx)
                if (!ofCell(xx, yy)) best = std::min(best, (xx - p % w) * (xx - p % w) + (yy - p / w) * (yy - p / w));
        d2[p] = best;
    }
    return d2;
}

// The seeds of cell 0 by their definition, over the heights of its pixels: a pixel starts a
// piece when no 4-neighbour in the cell comes before it (higher, or as high and of lower
// index); a start but the highest pixel is a seed when isSeed(its height, m), m the greatest
// height such that a path of cell pixels no lower than m joins it to a pixel that comes
// before it (found by brute-force searches). Returns the seeds, highest first.
template <typename IsSeed>
std::vector<int32_t> seedsOfHeights(const SplitScene& s, const std::vector<int32_t>& height, IsSeed isSeed) {
    const int32_t w = s.w, h = s.h, n = w * h;
    const auto ofCell = [&](int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < w && y < h && s.labels[y * w + x] == 0; };
    const auto before = [&](int32_t q, int32_t p) { return height[q] > height[p] || (height[q] == height[p] && q < p); };
    const auto neighbours = [&](int32_t p) {
        std::vector<int32_t> out;
        const int32_t x = p % w, y = p / w;
        for (const auto& [xx, yy] : {std::pair{x, y - 1}, {x - 1, y}, {x + 1, y}, {x, y + 1}})
            if (ofCell(xx, yy)) out.push_back(yy * w + xx);
        return out;
    };
    int32_t highest = -1;
    for (int32_t p = 0; p < n; ++p)
        if (s.labels[p] == 0 && (highest < 0 || before(p, highest))) highest = p;
    std::vector<int32_t> seeds;
    if (highest >= 0) seeds.push_back(highest);
    std::vector<int32_t> levels;
    for (int32_t p = 0; p < n; ++p)
        if (s.labels[p] == 0) levels.push_back(height[p]);
    std::sort(levels.begin(), levels.end(), std::greater<int32_t>());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    for (int32_t r = 0; r < n; ++r) {
        if (s.labels[r] != 0 || r == highest) continue;
        const auto near = neighbours(r);
        if (std::any_of(near.begin(), near.end(), [&](int32_t q) { return before(q, r); })) continue;
        for (const int32_t m : levels) {
            if (m > height[r]) continue;
            std::vector<int32_t> stack = {r};
            std::vector<bool> seen(n, false);
            seen[r] = true;
            bool joined = false;
            while (!stack.empty() && !joined) {
                const int32_t p = stack.back();
                stack.pop_back();
                for (const int32_t q : neighbours(p)) {
                    if (seen[q] || height[q] < m) continue;
                    joined = joined || before(q, r);
                    seen[q] = true;
                    stack.push_back(q);
                }
            }
            if (!joined) continue;
            if (isSeed(height[r], m)) seeds.push_back(r);
            break;
        }
    }
    std::sort(seeds.begin() + (seeds.empty() ? 0 : 1), seeds.end(),
              [&](int32_t a, int32_t b) { return before(a, b); });
    return seeds;
}

// The seeds of -split H, with the dynamic measured in distance: sqrt(height) - sqrt(m) >= depth.
// Returns them with the squared distances d2 of the scene's pixels.
std::vector<int32_t> seedsByDefinition(const SplitScene& s, double depth, std::vector<int32_t>& d2) {
    d2 = bruteForceDistances(s);
    return seedsOfHeights(s, d2, [&](int32_t top, int32_t m) {
        return std::sqrt(static_cast<double>(top)) - std::sqrt(static_cast<double>(m)) >= depth;
    });
}

// The division the definition gives: from the seeds (the first keeps number 0, the others
// take 1, 2, ... highest first), the unreached pixel of highest d2, then lowest index, is
// taken next and gives its number to its unreached 4-neighbours in the cell.
std::vector<int32_t> floodByDefinition(const SplitScene& s, const std::vector<int32_t>& seeds,
                                       const std::vector<int32_t>& d2) {
    std::vector<int32_t> out = s.labels;
    std::vector<int32_t> part(out.size(), -1);
    const auto after = [&](int32_t a, int32_t b) { return d2[a] < d2[b] || (d2[a] == d2[b] && a > b); };
    std::priority_queue<int32_t, std::vector<int32_t>, decltype(after)> next(after);
    for (size_t i = 0; i < seeds.size(); ++i) {
        part[seeds[i]] = static_cast<int32_t>(i);
        next.push(seeds[i]);
    }
    while (!next.empty()) {
        const int32_t p = next.top();
        next.pop();
        const int32_t x = p % s.w, y = p / s.w;
        for (const auto& [xx, yy] : {std::pair{x, y - 1}, {x - 1, y}, {x + 1, y}, {x, y + 1}}) {
            if (xx < 0 || yy < 0 || xx >= s.w || yy >= s.h) continue;
            const int32_t q = yy * s.w + xx;
            if (s.labels[q] != 0 || part[q] >= 0) continue;
            part[q] = part[p];
            next.push(q);
        }
    }
    for (size_t p = 0; p < out.size(); ++p)
        if (s.labels[p] == 0) out[p] = part[p];
    return out;
}

// Random blobs of overlapping ellipses, at the frame's edges too, with necks, ridges and
// plateaus: cell 0 is divided into as many parts as it has seeds, at every depth.
TEST(CellSplitting, RandomBlobsGetOnePartPerSeedOfTheDefinition) {
    std::mt19937 rng(3);
    int32_t divided = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const int32_t w = 20 + static_cast<int32_t>(rng() % 30), h = 16 + static_cast<int32_t>(rng() % 24);
        SplitScene blob(w, h);
        std::vector<Disc> discs;
        for (int k = 0; k < 2 + static_cast<int>(rng() % 3); ++k)
            discs.push_back({static_cast<double>(rng() % w), static_cast<double>(rng() % h), 3.0 + rng() % 9,
                             3.0 + rng() % 9});
        blob.draw(discs, 0);
        if (!blob.connected(0)) continue;
        for (const double depth : {0.5, 1.0, 1.5, 2.0, 3.0}) {
            SplitScene s = blob;
            std::vector<int32_t> d2;
            const std::vector<int32_t> seedPixels = seedsByDefinition(s, depth, d2);
            const int32_t seeds = static_cast<int32_t>(seedPixels.size());
            const int32_t result = s.split(1, depth);
            std::set<int32_t> parts;
            for (size_t p = 0; p < s.labels.size(); ++p)
                if (blob.labels[p] == 0) parts.insert(s.labels[p]);
            ASSERT_EQ(static_cast<int32_t>(parts.size()), seeds) << "trial " << trial << ", depth " << depth;
            EXPECT_EQ(result, seeds > 1 ? 1 : 0);
            if (seeds > 1) {
                ASSERT_EQ(s.labels, floodByDefinition(blob, seedPixels, d2)) << "trial " << trial << ", depth " << depth;
            }
            divided += seeds > 1;
        }
    }
    EXPECT_GT(divided, 10);  // the blobs did give divided cells
}

// A bright frame with dark discs (gray 40 on 200) drawn where the scene has number 0.
std::vector<uint8_t> darkCells(const SplitScene& s) {
    std::vector<uint8_t> gray(s.labels.size(), 200);
    for (size_t i = 0; i < gray.size(); ++i)
        if (s.labels[i] >= 0) gray[i] = 40;
    return gray;
}

TEST(CellSplitting, TheSegmentationCountsTheDividedCellsOnlyWithTheOption) {
    // The segmentation's outline fills a shallow waist, so the discs are 20 apart: a neck about
    // 9 wide in the outline, two cells with -split 2 where there is one without.
    SplitScene s(96, 64);
    s.draw({{22, 30, 11, 11}, {42, 30, 11, 11}}, 0);
    s.draw({{78, 30, 10, 10}}, 0);
    const auto gray = darkCells(s);
    auto bench = testing::makeSegmentScratch(s.w, s.h);
    ASSERT_TRUE(bench->reserveExtensions());
    ASSERT_TRUE(bench->reserveSplitting());
    RunConfig config;
    config.threshold = 20;
    ASSERT_EQ(bench->segment(gray.data(), config), 2);
    const int32_t pairArea = cellRecord(bench->cellTable, 0)[CellWord::size];
    config.splitDepth = 2;
    ASSERT_EQ(bench->segment(gray.data(), config), 3);
    // The cell table is built anew: each part has its own record and raster numbering.
    const int32_t* first = cellRecord(bench->cellTable, 0);
    const int32_t* second = cellRecord(bench->cellTable, 1);
    EXPECT_LT(first[CellWord::maxX], second[CellWord::minX] + 3);
    EXPECT_NEAR(first[CellWord::size], second[CellWord::size], 30);
    EXPECT_EQ(first[CellWord::size] + second[CellWord::size], pairArea);
    // The filters see the parts: an area ceiling below the pair's area drops the pair when
    // splitting is off and keeps both parts when it is on.
    config.maxArea = std::max(first[CellWord::size], second[CellWord::size]) + 20;
    ASSERT_LT(config.maxArea, pairArea);
    EXPECT_EQ(bench->segment(gray.data(), config), 3);
    config.splitDepth = 0;
    EXPECT_EQ(bench->segment(gray.data(), config), 1);
}

// -split-gray ------------------------------------------------------------------------------

// The heights of -split-gray by their definition: 255 S^2 less the 2-D sum of the gray with the
// product weights round(64 exp(-i^2 / 4.5)), |i| <= 4, pixels beyond an edge taken as the edge's.
std::vector<int32_t> heightsByDefinition(const std::vector<uint8_t>& gray, int32_t w, int32_t h) {
    int32_t weight[5], total = 0;
    for (int32_t i = 0; i <= 4; ++i) weight[i] = static_cast<int32_t>(std::lround(64 * std::exp(-i * i / 4.5)));
    for (int32_t i = -4; i <= 4; ++i) total += weight[std::abs(i)];
    std::vector<int32_t> out(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int64_t sum = 0;
            for (int32_t dy = -4; dy <= 4; ++dy)
                for (int32_t dx = -4; dx <= 4; ++dx) {
                    const int32_t xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
                    sum += int64_t{weight[std::abs(dx)]} * weight[std::abs(dy)] * gray[yy * w + xx];
                }
            out[y * w + x] = static_cast<int32_t>(255 * int64_t{total} * total - sum);
        }
    return out;
}

TEST(GraySplitting, HeightsAreTheSmoothedGrayByTheTwoDimensionalSum) {
    std::mt19937 rng(17);
    for (const auto& [w, h] : {std::pair{1, 1}, {3, 9}, {17, 12}, {40, 5}}) {
        std::vector<uint8_t> gray(static_cast<size_t>(w) * h);
        for (auto& g : gray) g = static_cast<uint8_t>(rng());
        std::vector<int32_t> columnPass(gray.size()), heights(gray.size());
        grayHeights(gray.data(), w, h, columnPass.data(), heights.data());
        EXPECT_EQ(heights, heightsByDefinition(gray, w, h)) << w << " x " << h;
    }
    // A flat frame: every height is 255 - its gray, in units of 240^2.
    std::vector<uint8_t> flat(30, 55);
    std::vector<int32_t> columnPass(30), heights(30);
    grayHeights(flat.data(), 6, 5, columnPass.data(), heights.data());
    EXPECT_EQ(heights, std::vector<int32_t>(30, 200 * 240 * 240));
}

// Two dark discs drawn into one round blob (no waist, so -split finds one cell), each darkest
// at its middle: the gray divides them at the lighter seam between the middles.
struct OverlappingPair {
    static constexpr int32_t W = 40, H = 30;
    SplitScene scene{W, H};
    std::vector<uint8_t> gray = std::vector<uint8_t>(W * H, 200);
    OverlappingPair() {
        scene.draw({{20, 15, 12, 11}}, 0);  // the blob the threshold gives
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                if (scene.labels[y * W + x] != 0) continue;
                // Each half darkest at its own middle (x 14 and 26), 30 gray levels lighter at the seam.
                const double d = std::min(std::hypot(x - 14, y - 15), std::hypot(x - 26, y - 15));
                gray[y * W + x] = static_cast<uint8_t>(std::lround(60 + 5 * d));
            }
    }
};

TEST(GraySplitting, AnOverlappingPairIsDividedAtTheLighterSeamOnlyAboveItsDepth) {
    OverlappingPair pair;
    SplitScene shape = pair.scene;
    EXPECT_EQ(shape.split(1, 1.0), 0);  // no waist: splitting by shape keeps it whole
    SplitScene s = pair.scene;
    EXPECT_EQ(s.splitByGray(1, 5.0, pair.gray), 1);
    EXPECT_EQ(s.areas().size(), 2u);
    EXPECT_NE(s.at(14, 15), s.at(26, 15));
    EXPECT_EQ(s.at(10, 15), s.at(14, 15));
    EXPECT_EQ(s.at(30, 15), s.at(26, 15));
    EXPECT_TRUE(s.connected(0) && s.connected(1));
    // The seam is 30 levels lighter than the middles, less after smoothing: 40 keeps the pair.
    SplitScene deep = pair.scene;
    EXPECT_EQ(deep.splitByGray(1, 40.0, pair.gray), 0);
    EXPECT_EQ(deep.labels, pair.scene.labels);
}

// Random blobs over random gray with dark spots: the parts are the seeds of the definition,
// each pixel in the part of a plain priority flood of the heights.
TEST(GraySplitting, RandomBlobsGetThePartsOfTheDefinition) {
    std::mt19937 rng(23);
    int32_t divided = 0;
    for (int trial = 0; trial < 30; ++trial) {
        const int32_t w = 16 + static_cast<int32_t>(rng() % 24), h = 12 + static_cast<int32_t>(rng() % 20);
        SplitScene blob(w, h);
        std::vector<Disc> discs;
        for (int k = 0; k < 1 + static_cast<int>(rng() % 3); ++k)
            discs.push_back({static_cast<double>(rng() % w), static_cast<double>(rng() % h), 3.0 + rng() % 8,
                             3.0 + rng() % 8});
        blob.draw(discs, 0);
        if (!blob.connected(0)) continue;
        std::vector<uint8_t> gray(static_cast<size_t>(w) * h);
        std::vector<std::pair<int32_t, int32_t>> spots;
        for (int k = 0; k < 2 + static_cast<int>(rng() % 4); ++k)
            spots.push_back({static_cast<int32_t>(rng() % w), static_cast<int32_t>(rng() % h)});
        for (int32_t p = 0; p < w * h; ++p) {
            double d = 1e9;
            for (const auto& [sx, sy] : spots) d = std::min(d, std::hypot(p % w - sx, p / w - sy));
            gray[p] = static_cast<uint8_t>(std::clamp(50 + 6 * d + static_cast<double>(rng() % 9), 0.0, 255.0));
        }
        for (const double depth : {0.5, 3.0, 8.0}) {
            SplitScene s = blob;
            const int32_t result = s.splitByGray(1, depth, gray);
            const auto least = static_cast<int64_t>(std::ceil(depth * 240 * 240));
            const std::vector<int32_t> seeds =
                seedsOfHeights(blob, s.heights, [&](int32_t top, int32_t m) { return top - m >= least; });
            EXPECT_EQ(result, seeds.size() > 1 ? 1 : 0) << "trial " << trial << ", depth " << depth;
            if (seeds.size() > 1) {
                ASSERT_EQ(s.labels, floodByDefinition(blob, seeds, s.heights)) << "trial " << trial << ", depth " << depth;
            } else {
                ASSERT_EQ(s.labels, blob.labels);
            }
            divided += seeds.size() > 1;
        }
    }
    EXPECT_GT(divided, 10);
}

}  // namespace
}  // namespace vanto
