#include <gtest/gtest.h>

#include "track_scene.h"

namespace vanto {
namespace {

// A 3 x 3 square with its top-left corner at (x, y), the only cell of the frame.
TrackStatus trackSquare(Workspace& ws, int32_t frame, int32_t x, int32_t y) {
    std::fill_n(ws.cells.segLabels, ws.cells.pixelCount, -1);
    testing::fillRect(ws.cells.segLabels, ws.cells.width, x, y, x + 2, y + 2, 0);
    return testing::trackSegmented(ws, frame, 1, 5);
}

TEST(TrackIdentity, CarriedOverOneToOneLinks) {
    auto ws = testing::makeWorkspace(40, 40);
    ASSERT_EQ(trackSquare(*ws, 1, 2, 2), TrackStatus::ok);
    const int32_t* first = cellRecord(ws->cells.cellTable, 0);
    EXPECT_EQ(first[CellWord::cellId], 0);
    EXPECT_EQ(first[CellWord::life], 0);
    EXPECT_EQ(first[CellWord::totalWay], 0);
    const int steps = 5;
    for (int f = 2; f <= steps + 1; ++f)
        ASSERT_EQ(trackSquare(*ws, f, 2 + 3 * (f - 1), 2 + 4 * (f - 1)), TrackStatus::ok);
    const int32_t* r = cellRecord(ws->cells.cellTable, 0);
    EXPECT_EQ(r[CellWord::cellId], 0);
    EXPECT_EQ(r[CellWord::life], steps);
    EXPECT_EQ(r[CellWord::totalWay], 500 * steps);
    EXPECT_EQ(ws->history.nextCellId, 1);

    const int32_t* e = linkEntry(ws->history.slotOfFrame(steps + 1), 0);
    EXPECT_EQ(e[LinkWord::linkState], kLinkAccepted);
    EXPECT_EQ(e[LinkWord::prevX], 3 + 3 * (steps - 1));
    EXPECT_EQ(e[LinkWord::prevY], 3 + 4 * (steps - 1));
    EXPECT_EQ(e[LinkWord::curX], 3 + 3 * steps);
    EXPECT_EQ(e[LinkWord::curY], 3 + 4 * steps);
    EXPECT_EQ(e[LinkWord::carriedId], 0);
    EXPECT_EQ(e[LinkWord::curSmall], 0);
    EXPECT_EQ(linkEntry(ws->history.slotOfFrame(steps + 1), 1)[LinkWord::prevX], -1);
}

TEST(TrackIdentity, EachStepAddsTheTruncatedDisplacement) {
    auto ws = testing::makeWorkspace(20, 20);
    trackSquare(*ws, 1, 2, 2);
    trackSquare(*ws, 2, 3, 3);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::totalWay], 141);
    trackSquare(*ws, 3, 4, 4);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::totalWay], 282);  // 141 + 141.42..., not 2 x 141.42...
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::life], 2);
}

TEST(TrackIdentity, FreshIdentitiesAfterSplitAndMerge) {
    {
        auto ws = testing::makeWorkspace(10, 3);
        testing::trackRows(*ws, 1, {"..........", ".000000...", ".........."}, 1, 2);
        testing::trackRows(*ws, 2, {"..........", ".00..11...", ".........."}, 2, 2);
        ASSERT_EQ(ws->cells.finalCount, 2);
        for (int i = 0; i < 2; ++i) {
            const int32_t* r = cellRecord(ws->cells.cellTable, i);
            EXPECT_EQ(r[CellWord::cellId], 1 + i);
            EXPECT_EQ(r[CellWord::life], 0);
            EXPECT_EQ(r[CellWord::totalWay], 0);
            const int32_t* e = linkEntry(ws->history.slotOfFrame(2), i);
            EXPECT_EQ(e[LinkWord::linkState], kLinkAccepted);
            EXPECT_EQ(e[LinkWord::carriedId], -1);
        }
    }
    {
        auto ws = testing::makeWorkspace(10, 3);
        testing::trackRows(*ws, 1, {"..........", ".00.11....", ".........."}, 2, 2);
        EXPECT_EQ(cellRecord(ws->cells.cellTable, 1)[CellWord::cellId], 1);
        testing::trackRows(*ws, 2, {"..........", ".00000....", ".........."}, 1, 2);
        ASSERT_EQ(ws->cells.finalCount, 1);
        EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::cellId], 2);
        EXPECT_EQ(ws->history.nextCellId, 3);
        for (int k = 0; k < 2; ++k) {
            const int32_t* e = linkEntry(ws->history.slotOfFrame(2), k);
            EXPECT_EQ(e[LinkWord::linkState], kLinkAccepted);
            EXPECT_EQ(e[LinkWord::carriedId], -1);
        }
    }
}

TEST(TrackIdentity, MergedFragmentsPassTheIdentityOverTheSurvivingLink) {
    auto ws = testing::makeWorkspace(10, 3);
    testing::trackRows(*ws, 1, {"..........", ".000000...", ".........."}, 1, 2);
    testing::trackRows(*ws, 2, {"..........", ".000111...", ".........."}, 2, 2);
    ASSERT_EQ(ws->cells.finalCount, 1);
    const int32_t* r = cellRecord(ws->cells.cellTable, 0);
    EXPECT_EQ(r[CellWord::cellId], 0);
    EXPECT_EQ(r[CellWord::life], 1);
    EXPECT_EQ(r[CellWord::totalWay], 0);
    const int32_t* vanished = linkEntry(ws->history.slotOfFrame(2), 0);
    EXPECT_EQ(vanished[LinkWord::linkState], kLinkVanished);
    EXPECT_EQ(vanished[LinkWord::curIndex], 0);   // segmentation numbering kept
    EXPECT_EQ(vanished[LinkWord::curX], 2);
    EXPECT_EQ(vanished[LinkWord::carriedId], 6);  // still the overlap
    EXPECT_EQ(vanished[LinkWord::curSmall], -1);
    const int32_t* kept = linkEntry(ws->history.slotOfFrame(2), 1);
    EXPECT_EQ(kept[LinkWord::linkState], kLinkAccepted);
    EXPECT_EQ(kept[LinkWord::curIndex], 0);
    EXPECT_EQ(kept[LinkWord::curX], 3);
    EXPECT_EQ(kept[LinkWord::carriedId], 0);
    EXPECT_EQ(kept[LinkWord::curSmall], 0);
}

TEST(TrackIdentity, RejectedLinksKeepTheirOverlapAndUnmatchedCellsGetFreshIds) {
    // All small: the links stay rejected and every current cell starts a new identity.
    auto ws = testing::makeWorkspace(8, 3);
    testing::trackRows(*ws, 1, {"........", "...0....", "........"}, 1, 5);
    testing::trackRows(*ws, 2, {"........", "..0..1..", "........"}, 2, 5);
    const int32_t* e0 = linkEntry(ws->history.slotOfFrame(2), 0);
    EXPECT_EQ(e0[LinkWord::linkState], kLinkRejected);
    EXPECT_EQ(e0[LinkWord::carriedId], 2);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 0)[CellWord::cellId], 1);
    EXPECT_EQ(cellRecord(ws->cells.cellTable, 1)[CellWord::cellId], 2);
}

}  // namespace
}  // namespace vanto
