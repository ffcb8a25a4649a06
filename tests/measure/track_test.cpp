#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "measure/diffusion.h"
#include "measure/frame_tracks.h"
#include "measure/motion_measures.h"
#include "model/records.h"
#include "link_history_fixture.h"

namespace vanto {
namespace {

class MeasureTrack : public testing::LinkHistoryTest {
protected:
    // An entry in the slot of frame number f, accepted and not small unless told.
    void add(int32_t f, int32_t px, int32_t py, int32_t cx, int32_t cy, int32_t carried, int32_t state = kLinkAccepted,
             int32_t small = 0) {
        LinkHistoryTest::add(f, px, py, cx, cy, state, carried, small);
    }

    // Identity `id` moves by (dx, dy) into each of the frames first .. last, from (x, y) at first - 1.
    void straightTrack(int32_t id, int32_t first, int32_t last, int32_t x, int32_t y, int32_t dx, int32_t dy) {
        for (int32_t f = first; f <= last; ++f, x += dx, y += dy) add(f, x, y, x + dx, y + dy, id);
    }

    // The measures of identity id from a scan of the history's slots, as a report does when
    // the frame's track lists do not fit.
    static MotionMeasures motion(int32_t frame, int32_t id) {
        return measureMotionOver(SlotScanSteps{ws_->history, frame, id});
    }
    static DiffusionExponents diffusion(int32_t frame, int32_t id, int32_t life) {
        return measureDiffusionOver(SlotScanSteps{ws_->history, frame, id}, life);
    }

};

std::string text(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// Least-squares slope of ln(S_k / k) against ln k, S_k / k = (k + 1)(2k + 1) / 6 (any speed).
double straightSlope(int m) {
    double mx = 0, my = 0;
    for (int k = 1; k <= m; ++k) {
        mx += std::log(k);
        my += std::log((k + 1.0) * (2.0 * k + 1.0) / 6.0);
    }
    mx /= m;
    my /= m;
    double sxx = 0, sxy = 0;
    for (int k = 1; k <= m; ++k) {
        const double dx = std::log(k) - mx;
        sxx += dx * dx;
        sxy += dx * (std::log((k + 1.0) * (2.0 * k + 1.0) / 6.0) - my);
    }
    return sxy / sxx;
}

TEST_F(MeasureTrack, CellLinkedOnlyInTheCurrentFrame) {
    add(7, 1, 1, 2, 2, 4);
    add(7, 10, 10, 13, 14, 5);
    const MotionMeasures m = motion(7, 5);
    EXPECT_EQ(m.count15, 1);
    EXPECT_EQ(m.count30, 1);
    EXPECT_EQ(m.count45, 1);
    EXPECT_EQ(m.lastCount, 1);
    EXPECT_DOUBLE_EQ(m.distance1, 5.0);
    EXPECT_DOUBLE_EQ(m.aveWay15, 5.0);
    EXPECT_DOUBLE_EQ(m.aveWay30, 5.0);
    EXPECT_DOUBLE_EQ(m.aveWay45, 5.0);
    EXPECT_NEAR(m.angle1, 53.13010157, 1e-7);
    EXPECT_EQ(m.angle45, m.angle1);
    EXPECT_EQ(m.distance45, m.distance1);
}

TEST_F(MeasureTrack, NewIdentityHasNoMeasures) {
    add(1, 1, 1, 2, 2, 4);
    const MotionMeasures m = motion(1, 9);
    EXPECT_EQ(m.count45, 0);
    EXPECT_EQ(m.lastCount, 0);
}

TEST_F(MeasureTrack, WindowsOfALongLife) {
    // Frame 60; steps of length 7 into frames 11..15 (outside every window), 3 into 16..30,
    // 2 into 31..45 and 1 into 46..60, all along +x.
    int32_t x = 0;
    for (int32_t f = 11; f <= 60; ++f) {
        const int32_t len = f <= 15 ? 7 : f <= 30 ? 3 : f <= 45 ? 2 : 1;
        add(f, x, 20, x + len, 20, 3);
        x += len;
    }
    const MotionMeasures m = motion(60, 3);
    EXPECT_EQ(m.count15, 15);
    EXPECT_EQ(m.count30, 30);
    EXPECT_EQ(m.count45, 45);
    EXPECT_DOUBLE_EQ(m.aveWay15, 1.0);
    EXPECT_DOUBLE_EQ(m.aveWay30, 1.5);
    EXPECT_DOUBLE_EQ(m.aveWay45, 2.0);
    EXPECT_DOUBLE_EQ(m.distance1, 1.0);
    EXPECT_DOUBLE_EQ(m.distance45, 15 * 3 + 15 * 2 + 15 * 1);  // from frame 15 to frame 60
    EXPECT_EQ(m.angle45, 0.0);
}

TEST_F(MeasureTrack, UpAndLeftAsTheStreamWritesThem) {
    add(5, 5, 5, 5, 2, 1);
    add(6, 5, 2, 2, 2, 2);
    const MotionMeasures up = motion(5, 1);
    const MotionMeasures left = motion(6, 2);
    EXPECT_NEAR(up.angle1, -89.9999987, 1e-7);  // pi taken as 3.1415927
    EXPECT_NEAR(left.angle1, 179.9999973, 1e-7);
    EXPECT_EQ(text(up.angle1), "-90");
    EXPECT_EQ(text(left.angle1), "180");
}

TEST_F(MeasureTrack, OnlyAcceptedEntriesCarryingTheIdentityCount) {
    add(9, 0, 0, 1, 0, 5, kLinkRejected);
    add(9, 0, 0, 2, 0, 5, kLinkVanished);
    add(9, 0, 0, 3, 0, -1);
    add(9, 0, 0, 4, 0, 6);
    add(8, 0, 0, 4, 0, 5, kLinkUnexamined);
    MotionMeasures m = motion(9, 5);
    EXPECT_EQ(m.count45, 0);
    EXPECT_EQ(m.lastCount, 0);
    m = motion(9, -1);
    EXPECT_EQ(m.count45, 0);
    EXPECT_EQ(m.lastCount, 0);
}

TEST_F(MeasureTrack, SlotEndsAtTheFirstEmptyEntryOrAtItsRoom) {
    // Frame 9: an entry after the ending entry is not read.
    add(9, 0, 0, 3, 4, 7);
    used_[9]++;  // leaves an entry with prevX -1
    add(9, 0, 0, 6, 8, 7);
    EXPECT_EQ(motion(9, 7).count45, 1);
    EXPECT_DOUBLE_EQ(motion(9, 7).distance1, 5.0);

    // Frame 57 (slot 7) full to its last entry, which counts; the first entry of the next
    // slot (frame 8, 49 frames back: outside the walk) must not be taken for slot 7's.
    for (int k = 0; k < kSlotEntries - 1; ++k) add(57, 1, 1, 2, 2, 100 + k);
    add(57, 10, 10, 13, 14, 8);
    add(8, 0, 0, 30, 40, 8);
    const MotionMeasures m = motion(57, 8);
    EXPECT_EQ(m.lastCount, 1);
    EXPECT_EQ(m.count45, 1);
    EXPECT_DOUBLE_EQ(m.distance1, 5.0);
}

TEST_F(MeasureTrack, StraightMotionAtConstantSpeed) {
    straightTrack(2, 11, 60, 0, 0, 3, 4);
    const DiffusionExponents d = diffusion(60, 2, 50);
    EXPECT_NEAR(d.d15, 1.673, 5e-4);
    EXPECT_NEAR(d.d30, 1.767, 5e-4);
    EXPECT_NEAR(d.d45, 1.811, 5e-4);
    EXPECT_NEAR(d.d15, straightSlope(15), 1e-9);
    EXPECT_NEAR(d.d30, straightSlope(30), 1e-9);
    EXPECT_NEAR(d.d45, straightSlope(45), 1e-9);
}

TEST_F(MeasureTrack, EachWindowStartsAtItsOwnOldestStep) {
    // Irregular steps into frames 20..45, straight steps at another speed into 46..60.
    int32_t x = 20, y = 9;
    for (int32_t f = 20; f <= 45; ++f) {
        const int32_t dx = (f * 7) % 5 - 2, dy = (f * 3) % 4 + 1;
        add(f, x, y, x + dx, y + dy, 2);
        x += dx;
        y += dy;
    }
    straightTrack(2, 46, 60, x, y, 2, 0);
    const DiffusionExponents d = diffusion(60, 2, 41);
    EXPECT_NEAR(d.d15, straightSlope(15), 1e-9);
    EXPECT_TRUE(exponentPresent(d.d30));
    EXPECT_GT(std::abs(d.d30 - straightSlope(30)), 1e-3);
}

TEST_F(MeasureTrack, YoungCellsHaveNoExponents) {
    straightTrack(2, 11, 60, 0, 0, 1, 1);
    const DiffusionExponents d = diffusion(60, 2, 4);
    EXPECT_EQ(d.d15, kAbsentExponent);
    EXPECT_EQ(d.d30, kAbsentExponent);
    EXPECT_EQ(d.d45, kAbsentExponent);
}

TEST_F(MeasureTrack, OneStepWindowsAndMissingWindows) {
    // One step 20 frames back: the 15 window has none, the 30 and 45 windows one each.
    add(40, 0, 0, 1, 1, 2);
    const DiffusionExponents d = diffusion(60, 2, 5);
    EXPECT_EQ(d.d15, kAbsentExponent);
    EXPECT_TRUE(std::isnan(d.d30));
    EXPECT_TRUE(std::isnan(d.d45));
    EXPECT_FALSE(exponentPresent(d.d30));
    // Steps 45 to 49 frames back belong to no window.
    SetUp();
    straightTrack(2, 11, 15, 0, 0, 1, 0);
    const DiffusionExponents old = diffusion(60, 2, 50);
    EXPECT_EQ(old.d45, kAbsentExponent);
}

TEST_F(MeasureTrack, ZeroFirstStepGivesNoExponent) {
    add(46, 4, 4, 4, 4, 2);
    straightTrack(2, 47, 60, 4, 4, 1, 0);
    const DiffusionExponents d = diffusion(60, 2, 20);
    EXPECT_FALSE(exponentPresent(d.d15));
    EXPECT_FALSE(exponentPresent(d.d30));
    EXPECT_FALSE(exponentPresent(d.d45));
}

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(MeasureTrack, FrameListsGiveTheValuesOfTheScanPerCell) {
    // 40 cells with random accepted steps (and noise entries) over all 50 slots of frame 73.
    const int32_t frame = 73, n = 40;
    std::mt19937 rng(11);
    for (int32_t f = frame - 49; f <= frame; ++f) {
        for (int32_t id = 0; id < 60; ++id) {
            if (rng() % 4 == 0) continue;
            const int32_t state = rng() % 5 == 0 ? kLinkRejected : kLinkAccepted;
            const int32_t carried = rng() % 6 == 0 ? -1 : id;
            add(f, rng() % 30, rng() % 30, rng() % 30, rng() % 30, carried, state);
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        int32_t* r = cellRecord(ws_->cells.cellTable, i);
        r[CellWord::cellId] = i == 7 ? 3 : i == 9 ? -1 : 2 * i;  // a repeated identity and none
    }
    ws_->cells.finalCount = n;
    FrameTracks tracks;
    ASSERT_TRUE(tracks.build(ws_->cells, ws_->history, frame, ws_->scratch.scratchInts, ws_->scratch.scratchCapacity));
    for (int32_t i = 0; i < n; ++i) {
        const int32_t id = cellRecord(ws_->cells.cellTable, i)[CellWord::cellId];
        const MotionMeasures a = measureMotionOver(tracks.stepsOf(i));
        const MotionMeasures b = motion(frame, id);
        EXPECT_TRUE(a.count15 == b.count15 && a.count30 == b.count30 && a.count45 == b.count45 &&
                    a.lastCount == b.lastCount)
            << "cell " << i;
        EXPECT_TRUE(same(a.aveWay15, b.aveWay15) && same(a.aveWay30, b.aveWay30) && same(a.aveWay45, b.aveWay45) &&
                    same(a.angle1, b.angle1) && same(a.distance1, b.distance1) && same(a.angle45, b.angle45) &&
                    same(a.distance45, b.distance45))
            << "cell " << i;
        const DiffusionExponents da = measureDiffusionOver(tracks.stepsOf(i), 45);
        const DiffusionExponents db = diffusion(frame, id, 45);
        EXPECT_TRUE(same(da.d15, db.d15) && same(da.d30, db.d30) && same(da.d45, db.d45)) << "cell " << i;
    }
    EXPECT_GT(motion(frame, 2).count45, 20);
    EXPECT_FALSE(tracks.build(ws_->cells, ws_->history, frame, ws_->scratch.scratchInts, 3 * n + 10));
}

}  // namespace
}  // namespace vanto
