#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "track/link_candidates.h"
#include "track/link_resolution.h"
#include "track/tracking.h"
#include "track_scene.h"

namespace vanto {
namespace {

using testing::TrackScene;

// Three previous cells in a row, two current cells; the middle previous cell sees both
// current cells with the same support (6), the outer ones are small.
void buildTieScene(TrackScene& s) {
    s.setPrev({"..............", "00..111111..22", ".............."}, 3, 3);
    s.setCur({"..............", ".00000..11111.", ".............."}, 2, 3);
}

TEST(TrackCandidates, EntriesInMatrixOrderWithOverlapAndCentres) {
    TrackScene s(14, 3);
    buildTieScene(s);
    // A slot used 50 frames before holds stale entries: the listed ones and their end replace them.
    std::fill_n(s.slot(), 10 * kLinkWords, 7);
    ASSERT_EQ(s.listCandidates(), 4);
    EXPECT_EQ(s.ws->cells.linkCount, 4);
    // prev, cur, overlap, prevX, curX
    const int32_t expected[4][5] = {{0, 0, 4, 0, 3}, {1, 0, 6, 6, 3}, {1, 1, 6, 6, 10}, {2, 1, 4, 12, 10}};
    for (int k = 0; k < 4; ++k) {
        const int32_t* e = s.entry(k);
        EXPECT_EQ(e[LinkWord::prevIndex], expected[k][0]) << k;
        EXPECT_EQ(e[LinkWord::curIndex], expected[k][1]) << k;
        EXPECT_EQ(e[LinkWord::overlap], expected[k][2]) << k;
        EXPECT_EQ(e[LinkWord::prevX], expected[k][3]) << k;
        EXPECT_EQ(e[LinkWord::prevY], 1) << k;
        EXPECT_EQ(e[LinkWord::curX], expected[k][4]) << k;
        EXPECT_EQ(e[LinkWord::curY], 1) << k;
        EXPECT_EQ(e[LinkWord::linkState], kLinkUnexamined) << k;
        EXPECT_EQ(e[LinkWord::spare], -1) << k;
        EXPECT_EQ(e[LinkWord::curSmall], -1) << k;
    }
    for (int w = 0; w < kLinkWords; ++w) EXPECT_EQ(s.entry(4)[w], -1) << w;

    // Adjacency: cells of two or more pixels touch themselves; the cells here touch no other.
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) EXPECT_EQ(s.ws->history.prevAdjacency[a * 3 + b], a == b ? 1 : 0) << a << b;
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) EXPECT_EQ(s.ws->cells.pairMatrix[a * 2 + b], a == b ? 1 : 0) << a << b;
}

TEST(TrackCandidates, EverySlotOfANewWorkspaceIsEmpty) {
    TrackScene s(4, 4);
    for (int32_t slot = 0; slot < kSlotCount; ++slot)
        EXPECT_EQ(s.ws->history.slotAt(slot)[LinkWord::prevX], -1) << slot;
}

TEST(TrackCandidates, AdjacencyOfTouchingCellsAndSinglePixels) {
    TrackScene s(10, 3);
    s.setPrev({"..........", ".0.111....", ".0........"}, 2, 1);
    s.setCur({"..........", ".0011.2...", ".........."}, 3, 1);
    s.listCandidates();
    EXPECT_EQ(s.ws->history.prevAdjacency[0 * 2 + 0], 1);
    EXPECT_EQ(s.ws->history.prevAdjacency[0 * 2 + 1], 0);
    EXPECT_EQ(s.ws->history.prevAdjacency[1 * 2 + 0], 0);
    const int32_t cur[3][3] = {{1, 1, 0}, {1, 1, 0}, {0, 0, 0}};
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) EXPECT_EQ(s.ws->cells.pairMatrix[a * 3 + b], cur[a][b]) << a << b;
}

TEST(TrackCandidates, EmptyFramesGiveNoLinks) {
    TrackScene s(6, 3);
    s.setPrev({"......", ".00...", "......"}, 1, 1);
    s.setCur({"......", "......", "......"}, 0, 1);
    std::fill_n(s.slot(), kLinkWords, 7);
    EXPECT_EQ(s.listCandidates(), 0);
    EXPECT_EQ(s.entry(0)[LinkWord::prevX], -1);
}

// Random rectangles of labels 0 .. count - 1 (later ones over earlier ones) on -1.
void paintRandomCells(int32_t* plane, int32_t w, int32_t h, int32_t count, std::mt19937& random) {
    std::fill_n(plane, static_cast<int64_t>(w) * h, -1);
    for (int32_t label = 0; label < count; ++label) {
        const int32_t x0 = static_cast<int32_t>(random() % w), y0 = static_cast<int32_t>(random() % h);
        const int32_t x1 = std::min(w - 1, x0 + static_cast<int32_t>(random() % 6));
        const int32_t y1 = std::min(h - 1, y0 + static_cast<int32_t>(random() % 6));
        testing::fillRect(plane, w, x0, y0, x1, y1, label);
    }
}

// The list against a count of every pair's support over the whole matrix, on random frames
// (cells at the frame's edges, touching and overlapping, labels with no pixel, more than 32
// pairs a row of the matrix) whose matrices hold what earlier frames left.
TEST(TrackCandidates, ListMatchesACountOverEveryPair) {
    std::mt19937 random(7);
    for (int round = 0; round < 30; ++round) {
        const int32_t w = 17 + round % 13, h = 9 + round % 7;
        TrackScene s(w, h);
        Workspace& ws = *s.ws;
        const int32_t prevCount = 1 + static_cast<int32_t>(random() % 40);
        const int32_t curCount = round == 0 ? 0 : 1 + static_cast<int32_t>(random() % 40);
        paintRandomCells(ws.history.prevFrameLabels, w, h, prevCount, random);
        paintRandomCells(ws.cells.segLabels, w, h, curCount, random);
        testing::writeRecords(ws.history.prevCellTable, ws.history.prevFrameLabels, w, h, prevCount, 1);
        testing::writeRecords(ws.cells.cellTable, ws.cells.segLabels, w, h, curCount, 1);
        ws.history.prevCount = prevCount;
        ws.cells.curCount = curCount;
        const int64_t pairs = static_cast<int64_t>(prevCount) * curCount;
        for (int64_t m = 0; m < pairs + 64; ++m) {
            ws.cells.pairMatrix[m] = static_cast<int32_t>(random() % 3) - 1;
            ws.history.prevAdjacency[m] = static_cast<int32_t>(random());
        }
        const int32_t links = s.listCandidates();

        const CrossFrameNearest nearest = ws.scratch.crossFrameNearest();
        std::vector<int32_t> support(static_cast<size_t>(pairs), 0);
        for (int64_t p = 0; p < ws.cells.pixelCount; ++p) {
            if (nearest.curNearPrev[p] >= 0)
                ++support[static_cast<size_t>(ws.history.prevFrameLabels[p] * curCount + nearest.curNearPrev[p])];
            if (nearest.prevNearCur[p] >= 0)
                ++support[static_cast<size_t>(nearest.prevNearCur[p] * curCount + ws.cells.segLabels[p])];
        }
        int32_t k = 0;
        for (int64_t m = 0; m < pairs; ++m) {
            if (support[static_cast<size_t>(m)] == 0) continue;
            ASSERT_LT(k, links) << "round " << round;
            EXPECT_EQ(s.entry(k)[LinkWord::prevIndex], m / curCount) << "round " << round << " link " << k;
            EXPECT_EQ(s.entry(k)[LinkWord::curIndex], m % curCount) << "round " << round << " link " << k;
            EXPECT_EQ(s.entry(k)[LinkWord::overlap], support[static_cast<size_t>(m)]) << "round " << round;
            ++k;
        }
        EXPECT_EQ(links, k) << "round " << round;
        EXPECT_EQ(s.entry(k)[LinkWord::prevX], -1) << "round " << round;
        // The adjacency written over the bits is whole.
        for (int32_t x = 0; x + 1 < w; ++x) {
            const int32_t l = ws.history.prevFrameLabels[x], r = ws.history.prevFrameLabels[x + 1];
            if (l >= 0 && r >= 0) {
                EXPECT_EQ(ws.history.prevAdjacency[r * prevCount + l], 1) << "round " << round;
            }
        }
        for (int64_t m = 0; m < static_cast<int64_t>(prevCount) * prevCount; ++m)
            ASSERT_TRUE(ws.history.prevAdjacency[m] == 0 || ws.history.prevAdjacency[m] == 1) << "round " << round;
    }
}

// 100 previous rows (every even y) and 200 current columns (every even x) meet in every
// pair; the last column and the last row are shortened so that exactly the pair (row 99,
// column 199) is missing.
void buildGrid(TrackScene& s, bool complete) {
    Workspace& ws = *s.ws;
    const int32_t w = s.width;
    const int32_t h = s.height;
    std::fill_n(ws.history.prevFrameLabels, ws.cells.pixelCount, -1);
    std::fill_n(ws.cells.segLabels, ws.cells.pixelCount, -1);
    for (int32_t r = 0; r < 100; ++r) {
        const int32_t lastX = complete || r < 99 ? w - 1 : w - 3;
        for (int32_t x = 0; x <= lastX; ++x) ws.history.prevFrameLabels[2 * r * w + x] = r;
    }
    for (int32_t c = 0; c < 200; ++c) {
        const int32_t lastY = complete || c < 199 ? h - 1 : h - 3;
        for (int32_t y = 0; y <= lastY; ++y) ws.cells.segLabels[y * w + 2 * c] = c;
    }
    testing::writeRecords(ws.history.prevCellTable, ws.history.prevFrameLabels, w, h, 100, 1);
    testing::writeRecords(ws.cells.cellTable, ws.cells.segLabels, w, h, 200, 1);
    ws.history.prevCount = 100;
    ws.cells.curCount = 200;
}

TEST(TrackCandidates, LinkLimit) {
    TrackScene s(399, 199);
    buildGrid(s, false);
    ASSERT_EQ(s.listCandidates(), kLinkLimit - 1);
    EXPECT_EQ(s.entry(kLinkLimit - 2)[LinkWord::prevIndex], 99);
    EXPECT_EQ(s.entry(kLinkLimit - 2)[LinkWord::curIndex], 198);
    EXPECT_EQ(s.entry(kLinkLimit - 1)[LinkWord::prevX], -1);  // the slot's last entry ends it
    for (int k = 1; k < kLinkLimit - 1; ++k) {
        const int32_t* a = s.entry(k - 1);
        const int32_t* b = s.entry(k);
        ASSERT_LT(a[LinkWord::prevIndex] * 200 + a[LinkWord::curIndex],
                  b[LinkWord::prevIndex] * 200 + b[LinkWord::curIndex]);
    }

    // One component of 19,999 links: every cell that is not small ends matched, every link
    // is decided.
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    for (int i = 0; i < 100; ++i) EXPECT_EQ(s.prev(i)[CellWord::linkMark], kMarkMatched) << i;
    for (int i = 0; i < 200; ++i) EXPECT_EQ(s.cur(i)[CellWord::linkMark], kMarkMatched) << i;
    int accepted = 0;
    for (int k = 0; k < kLinkLimit - 1; ++k) {
        ASSERT_TRUE(s.state(k) == kLinkAccepted || s.state(k) == kLinkRejected) << k;
        accepted += s.state(k) == kLinkAccepted;
    }
    EXPECT_GE(accepted, 200);

    TrackScene full(399, 199);
    buildGrid(full, true);
    EXPECT_EQ(full.listCandidates(), kLinkLimit);
    EXPECT_EQ(full.ws->cells.linkCount, kLinkLimit);
    EXPECT_EQ(full.entry(0)[LinkWord::prevX], -1);  // nothing written

    buildGrid(full, true);
    Workspace& ws = *full.ws;
    const CrossFrameNearest nearest = ws.scratch.crossFrameNearest();
    addTwoHost(ws.history.prevFrameLabels, ws.cells.segLabels, ws.tables, 399, 199, nearest.curNearPrev,
               nearest.prevNearCur);
    EXPECT_EQ(trackFrame(ws.cells, ws.history, ws.scratch, ws.tables, 2, 1), TrackStatus::tooManyLinks);
}

// Resolution rules, each on a hand-drawn pair of frames.

TEST(TrackResolution, OneLinkComponentIsAcceptedEvenWhenBothCellsAreSmall) {
    TrackScene s(20, 5);
    s.setPrev({"....................", "....................", "..0.................", "....................",
               "...................."},
              1, 5);
    s.setCur({"....................", "....................", "...0............1...", "....................",
              "...................."},
             2, 5);
    ASSERT_EQ(s.listCandidates(), 1);
    EXPECT_EQ(s.entry(0)[LinkWord::overlap], 2);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.prev(0)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.cur(0)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkUntouched);  // more than 10 pixels from every previous cell
}

TEST(TrackResolution, SplitIntoTouchingFragmentsIsAcceptedAndMerged) {
    TrackScene s(10, 3);
    s.setPrev({"..........", ".000000...", ".........."}, 1, 2);
    s.setCur({"..........", ".000111...", ".........."}, 2, 2);
    ASSERT_EQ(s.listCandidates(), 2);
    EXPECT_EQ(s.entry(0)[LinkWord::overlap], 6);
    EXPECT_EQ(s.entry(1)[LinkWord::overlap], 6);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.cur(0)[CellWord::relabelTo], 1);  // the first fragment takes the second's label
    EXPECT_EQ(s.cur(1)[CellWord::relabelTo], 1);
}

TEST(TrackResolution, KeepingDivisionsLeavesTouchingFragmentsApart) {
    TrackScene s(10, 3);
    s.setPrev({"..........", ".000000...", ".........."}, 1, 2);
    s.setCur({"..........", ".000111...", ".........."}, 2, 2);
    ASSERT_EQ(s.listCandidates(), 2);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot(), false);
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.cur(0)[CellWord::relabelTo], 0);  // each keeps its own label: two cells
    EXPECT_EQ(s.cur(1)[CellWord::relabelTo], 1);
}

TEST(TrackResolution, SplitIntoSeparateFragmentsKeepsThemApart) {
    TrackScene s(10, 3);
    s.setPrev({"..........", ".000000...", ".........."}, 1, 2);
    s.setCur({"..........", ".00..11...", ".........."}, 2, 2);
    ASSERT_EQ(s.listCandidates(), 2);
    EXPECT_EQ(s.entry(0)[LinkWord::overlap], 5);
    EXPECT_EQ(s.entry(1)[LinkWord::overlap], 5);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.cur(0)[CellWord::relabelTo], 0);
    EXPECT_EQ(s.cur(1)[CellWord::relabelTo], 1);
}

TEST(TrackResolution, MergeAcceptsBothPreviousCells) {
    TrackScene s(10, 3);
    s.setPrev({"..........", ".00.11....", ".........."}, 2, 2);
    s.setCur({"..........", ".00000....", ".........."}, 1, 2);
    ASSERT_EQ(s.listCandidates(), 2);
    EXPECT_EQ(s.entry(0)[LinkWord::overlap], 5);
    EXPECT_EQ(s.entry(1)[LinkWord::overlap], 4);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.prev(0)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.prev(1)[CellWord::linkMark], kMarkMatched);
}

TEST(TrackResolution, EqualOverlapsGoByTheSortsOrder) {
    // Keys by queue position 4, 6, 6, 4: the sort leaves position 1 (link 1) last, so the
    // greedy step takes link 1; the second current cell then goes to the small cell 2.
    TrackScene s(14, 3);
    buildTieScene(s);
    ASSERT_EQ(s.listCandidates(), 4);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkRejected);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.state(2), kLinkRejected);
    EXPECT_EQ(s.state(3), kLinkAccepted);
    EXPECT_EQ(s.prev(0)[CellWord::linkMark], kMarkInComponent);
    EXPECT_EQ(s.prev(1)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.prev(2)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.cur(0)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkMatched);
    EXPECT_EQ(s.ws->scratch.rankOrder[3], 1);
    EXPECT_EQ(s.ws->scratch.rankOrder[2], 2);
}

TEST(TrackResolution, SmallCurrentCellIsReachedOnlyFromThePreviousSide) {
    TrackScene s(16, 3);
    s.setPrev({"................", "0000...1111.....", "................"}, 2, 2);
    s.setCur({"................", "..0000000...1...", "................"}, 2, 2);
    ASSERT_EQ(s.listCandidates(), 3);
    EXPECT_EQ(s.entry(0)[LinkWord::overlap], 8);
    EXPECT_EQ(s.entry(1)[LinkWord::overlap], 7);
    EXPECT_EQ(s.entry(2)[LinkWord::overlap], 1);
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkAccepted);
    EXPECT_EQ(s.state(1), kLinkRejected);
    EXPECT_EQ(s.state(2), kLinkAccepted);
    EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkMatched);
}

TEST(TrackResolution, AllSmallComponentAcceptsNothing) {
    TrackScene s(8, 3);
    s.setPrev({"........", "...0....", "........"}, 1, 5);
    s.setCur({"........", "..0..1..", "........"}, 2, 5);
    ASSERT_EQ(s.listCandidates(), 2);
    EXPECT_EQ(s.ws->history.prevAdjacency[0], 0);  // a single pixel does not touch itself
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkRejected);
    EXPECT_EQ(s.state(1), kLinkRejected);
    EXPECT_EQ(s.prev(0)[CellWord::linkMark], kMarkInComponent);
    EXPECT_EQ(s.cur(0)[CellWord::linkMark], kMarkInComponent);
    EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkInComponent);
}

TEST(TrackResolution, UnmatchedPreviousCellJoinsAMergeOnlyThroughATouchingNeighbour) {
    {
        TrackScene s(16, 3);
        s.setPrev({"................", ".00001111.......", "................"}, 2, 2);
        s.setCur({"................", ".00000000..1....", "................"}, 2, 2);
        ASSERT_EQ(s.listCandidates(), 3);
        EXPECT_EQ(s.entry(2)[LinkWord::overlap], 1);
        resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
        EXPECT_EQ(s.state(0), kLinkAccepted);
        EXPECT_EQ(s.state(1), kLinkAccepted);  // joins the merge of cell 0
        EXPECT_EQ(s.state(2), kLinkRejected);
        EXPECT_EQ(s.cur(1)[CellWord::linkMark], kMarkInComponent);
    }
    {
        TrackScene s(16, 3);
        s.setPrev({"................", ".000.1111.......", "................"}, 2, 2);
        s.setCur({"................", ".00000000..1....", "................"}, 2, 2);
        ASSERT_EQ(s.listCandidates(), 3);
        resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
        EXPECT_EQ(s.state(0), kLinkAccepted);
        EXPECT_EQ(s.state(1), kLinkRejected);
        EXPECT_EQ(s.state(2), kLinkAccepted);  // no touching neighbour: the unmatched partner
    }
}

TEST(TrackResolution, UnmatchedCurrentCellJoinsASplitThroughItsNeighbour) {
    // The tie scene with the two current cells touching: the greedy step takes link 2
    // (overlap 9); current cell 0 then joins the split of previous cell 1 instead of taking
    // the unmatched small previous cell 0.
    TrackScene s(14, 3);
    s.setPrev({"..............", "00..111111..22", ".............."}, 3, 3);
    s.setCur({"..............", ".000001111111.", ".............."}, 2, 3);
    ASSERT_EQ(s.listCandidates(), 4);
    const int32_t overlaps[4] = {4, 5, 9, 4};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(s.entry(k)[LinkWord::overlap], overlaps[k]) << k;
    resolveLinks(s.ws->cells, s.ws->history, s.ws->scratch, s.slot());
    EXPECT_EQ(s.state(0), kLinkRejected);
    EXPECT_EQ(s.state(1), kLinkAccepted);
    EXPECT_EQ(s.state(2), kLinkAccepted);
    EXPECT_EQ(s.state(3), kLinkRejected);
    EXPECT_EQ(s.prev(2)[CellWord::linkMark], kMarkInComponent);
    EXPECT_EQ(s.cur(0)[CellWord::relabelTo], 1);
}

}  // namespace
}  // namespace vanto
