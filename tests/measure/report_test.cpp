#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "measure/average_report.h"
#include "measure/cell_report.h"
#include "measure/frame_report.h"
#include "model/clock.h"
#include "model/records.h"
#include "link_history_fixture.h"

namespace vanto {
namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::string field;
    for (char c : line) {
        if (c == ',') {
            out.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    EXPECT_EQ(field, "") << "a line must end with a comma";
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The average row with its time field (column 2) replaced by "T".
std::string withoutTime(const std::string& row) {
    std::vector<std::string> f = fields(row);
    if (f.size() < 2) return row;
    f[1] = "T";
    std::string out;
    for (const auto& s : f) out += s + ",";
    return out;
}

TEST(MeasureReportHeaders, CellReportHeader) {
    std::ostringstream out;
    writeCellReportHeader(out);
    EXPECT_EQ(out.str(),
              "Frame,Index,Id,Size,Circumference,Circularity,Center X,Center Y,Voronoi,Min X,Min Y,Max X,Max Y,"
              "Min Angle,Min Length,Max Angle,Max Length,Thick / Thin,Life,,Total Way,Ave. Way (15),Ave. Way (30),"
              "Ave. Way (45),Diffuse (15),Diffuse (30),Diffuse (45),,Angle (1),Distance (1),Angle (45),"
              "Distance (45),\n");
}

TEST(MeasureReportHeaders, AverageReportHeaders) {
    std::ostringstream out;
    writeAverageReportHeader(out);
    EXPECT_EQ(out.str(),
              ",,,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,Mutch,"
              "Last 1,Last 1,Last 1,Last 1,Last 1,Last 1,Last 1,Last 1,"
              "Last 30,Last 30,Last 30,Last 30,Last 30,Last 30,Last 30,Last 30,,"
              "Small,Small,Small,Small,Small,Small,,All,All,All,All,All,All,\n"
              "Index,Time,,Count,Size,Circumference,Circularity,Life,Way,Diffuse (15),Diffuse (30),Diffuse (45),"
              "Thick,Thin,Aspect,N,NE,E,SE,S,SW,W,NW,N,NE,E,SE,S,SW,W,NW,,Count,Size,Circumference,Circularity,"
              "Life,Way,,Count,Size,Circumference,Circularity,Life,Way,\n");
    for (const auto& l : lines(out.str())) EXPECT_EQ(fields(l).size(), 45u);
}

// A record of a cell that is not small, with every reported word set.
std::vector<int32_t> sampleRecord() {
    std::vector<int32_t> r(kCellWords, 0);
    r[CellWord::size] = 100;
    r[CellWord::circumference] = 40;
    r[CellWord::centerX] = 10;
    r[CellWord::centerY] = 11;
    r[CellWord::voronoiArea] = 55;
    r[CellWord::minX] = 5;
    r[CellWord::minY] = 6;
    r[CellWord::maxX] = 15;
    r[CellWord::maxY] = 16;
    r[CellWord::minWidthAngle] = 30;
    r[CellWord::minWidth] = 250;
    r[CellWord::maxWidthAngle] = 120;
    r[CellWord::maxWidth] = 1000;
    r[CellWord::cellId] = 17;
    r[CellWord::life] = 2;
    r[CellWord::totalWay] = 1234;
    return r;
}

TEST(MeasureCellRow, RowWithoutACurrentStepEndsAfterColumn28) {
    std::ostringstream out;
    writeCellRow(out, 3, 2, sampleRecord().data(), MotionMeasures{}, DiffusionExponents{});
    EXPECT_EQ(out.str(), "3,2,17,100,40,0.886227,10,11,55,5,6,15,16,30,2.5,120,10,4,2,,12.34,,,,,,,,\n");
    EXPECT_EQ(fields(lines(out.str())[0]).size(), 28u);
}

TEST(MeasureCellRow, RowWithACurrentStepAndDefaultFormatting) {
    MotionMeasures m;
    m.count15 = m.count30 = m.count45 = 1;
    m.aveWay15 = 12.3456789;
    m.aveWay30 = m.aveWay45 = 5;
    m.lastCount = 1;
    m.angle1 = 0.7853981;
    m.distance1 = 5;
    m.angle45 = -89.9999987;
    m.distance45 = 2.5;
    DiffusionExponents d;
    d.d15 = 1.6732350765;
    d.d45 = std::nan("");
    std::vector<int32_t> r = sampleRecord();
    r[CellWord::totalWay] = 250;
    std::ostringstream out;
    writeCellRow(out, 3, 2, r.data(), m, d);
    EXPECT_EQ(out.str(),
              "3,2,17,100,40,0.886227,10,11,55,5,6,15,16,30,2.5,120,10,4,2,,2.5,12.3457,5,5,1.67324,,,,"
              "0.785398,5,-90,2.5,\n");
    EXPECT_EQ(fields(lines(out.str())[0]).size(), 32u);
}

TEST(MeasureCellRow, ZeroMinWidthWritesTheStreamTextOfInfAndNan) {
    std::vector<int32_t> r = sampleRecord();
    r[CellWord::minWidth] = 0;
    std::ostringstream inf;
    writeCellRow(inf, 1, 0, r.data(), MotionMeasures{}, DiffusionExponents{});
    EXPECT_EQ(fields(lines(inf.str())[0])[17], "inf");
    r[CellWord::maxWidth] = 0;
    std::ostringstream nan;
    writeCellRow(nan, 1, 0, r.data(), MotionMeasures{}, DiffusionExponents{});
    EXPECT_NE(fields(lines(nan.str())[0])[17].find("nan"), std::string::npos);
}

int32_t binOf(int32_t dx, int32_t dy) {
    int32_t e[kLinkWords] = {};
    e[LinkWord::prevX] = 50;
    e[LinkWord::prevY] = 50;
    e[LinkWord::curX] = 50 + dx;
    e[LinkWord::curY] = 50 + dy;
    return directionBin(e);
}

TEST(MeasureDirections, BinsOfSteps) {
    enum { N, NE, E, SE, S, SW, W, NW };
    EXPECT_EQ(binOf(1, -2), NE);
    EXPECT_EQ(binOf(1, -3), N);
    EXPECT_EQ(binOf(0, 0), E);
    EXPECT_EQ(binOf(0, -1), N);
    EXPECT_EQ(binOf(1, -1), NE);
    EXPECT_EQ(binOf(1, 0), E);
    EXPECT_EQ(binOf(1, 1), SE);
    EXPECT_EQ(binOf(0, 1), S);
    EXPECT_EQ(binOf(-1, 1), SW);
    EXPECT_EQ(binOf(-1, 0), W);
    EXPECT_EQ(binOf(-1, -1), NW);
    EXPECT_EQ(binOf(-3, -1), W);
}

class MeasureFrameReport : public testing::LinkHistoryTest {
protected:
    void SetUp() override {
        LinkHistoryTest::SetUp();
        ws_->cells.finalCount = 0;
        cellRecord(ws_->cells.cellTable, 0)[CellWord::smallFlag] = -1;
    }

    int32_t* addCell(int32_t smallFlag, int32_t size, int32_t circumference, int32_t life, int32_t id,
                     int32_t minWidth, int32_t maxWidth) {
        int32_t* r = cellRecord(ws_->cells.cellTable, ws_->cells.finalCount++);
        std::fill_n(r, kCellWords, 0);
        r[CellWord::smallFlag] = smallFlag;
        r[CellWord::size] = size;
        r[CellWord::circumference] = circumference;
        r[CellWord::life] = life;
        r[CellWord::cellId] = id;
        r[CellWord::minWidth] = minWidth;
        r[CellWord::maxWidth] = maxWidth;
        r[CellWord::centerX] = r[CellWord::centerY] = 20;
        cellRecord(ws_->cells.cellTable, ws_->cells.finalCount)[CellWord::smallFlag] = -1;
        return r;
    }
};

TEST_F(MeasureFrameReport, FrameWithoutCells) {
    std::ostringstream cells, averages;
    reportFrame(ws_->cells, ws_->history, ws_->scratch, 1, monotonicMs(), cells, averages);
    EXPECT_EQ(cells.str(), "");
    EXPECT_EQ(withoutTime(averages.str().substr(0, averages.str().size() - 1)),
              "1,T,,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,,1,0,0,0,0,0,,0,0,0,0,0,0,");
    EXPECT_EQ(averages.str().back(), '\n');
}

TEST_F(MeasureFrameReport, TimeIsTheElapsedTimeSinceTheStartMark) {
    std::ostringstream cells, averages;
    reportFrame(ws_->cells, ws_->history, ws_->scratch, 1, monotonicMs() - 1000, cells, averages);
    const int64_t t = std::stoll(fields(lines(averages.str())[0])[1]);
    EXPECT_GE(t, 1000);
    EXPECT_LT(t, 60000);
}

TEST_F(MeasureFrameReport, GroupsMeansAndHistograms) {
    const int32_t j = 40;
    addCell(0, 100, 40, 1, 10, 200, 600);
    addCell(0, 50, 30, 0, 11, 100, 100);
    addCell(1, 4, 8, 1, 12, 100, 200);
    add(j, 10, 10, 13, 14, kLinkAccepted, 10, 0);  // cell 0's step (SE), length 5
    add(j, 20, 20, 26, 28, kLinkAccepted, 12, 1);  // cell 2's step, length 10: to a small cell
    add(j, 30, 30, 31, 28, kLinkAccepted, -1, 0);  // NE, carries no identity
    add(j, 5, 5, 5, 9, kLinkRejected, 99, 0);
    add(j - 29, 1, 5, 2, 2, kLinkAccepted, -1, 0);  // N, oldest frame of "Last 30"
    add(j - 29, 1, 1, 2, 1, kLinkVanished, -1, 0);
    add(j - 30, 4, 4, 3, 4, kLinkAccepted, -1, 0);  // W, one frame too old
    std::ostringstream cells, averages;
    reportFrame(ws_->cells, ws_->history, ws_->scratch, j, monotonicMs(), cells, averages);

    // Mutch: sizes 100, 50; circumferences 40, 30; circularities 0.886227, 0.835543; lives 1, 0;
    // one step of 5; widths 6 / 2 and 1 / 1. Small: one cell, step 10. All: three cells, steps 5 and 10.
    EXPECT_EQ(withoutTime(lines(averages.str())[0]),
              "40,T,,2,75,35,0.860885,0.5,5,0,0,0,3.5,1.5,2,0,1,0,1,0,0,0,0,1,1,0,1,0,0,0,0,,"
              "1,4,8,0.886227,1,10,,3,51.3333,26,0.869332,0.666667,7.5,");

    const std::vector<std::string> rows = lines(cells.str());
    ASSERT_EQ(rows.size(), 2u);
    const std::vector<std::string> first = fields(rows[0]);
    ASSERT_EQ(first.size(), 32u);
    EXPECT_EQ(first[0], "40");
    EXPECT_EQ(first[1], "0");
    EXPECT_EQ(first[2], "10");
    EXPECT_EQ(first[21], "5");  // Ave. Way (15)
    EXPECT_EQ(first[29], "5");  // Distance (1)
    const std::vector<std::string> second = fields(rows[1]);
    ASSERT_EQ(second.size(), 28u);
    EXPECT_EQ(second[1], "1");
    EXPECT_EQ(second[21], "");
}

TEST_F(MeasureFrameReport, DiffuseMeansCountPresentValuesOnly) {
    const int32_t j = 60;
    // Cell 0 moves straight over frames 11..60; cell 1 made only one step (no exponent);
    // the small cell's exponents stay out of the means.
    addCell(0, 10, 10, 50, 1, 100, 100);
    addCell(0, 10, 10, 6, 2, 100, 100);
    addCell(1, 2, 4, 50, 3, 100, 100);
    for (int32_t f = 11; f <= j; ++f) {
        add(f, f, 5, f + 1, 5, kLinkAccepted, 1, 0);
        add(f, 2 * f, 30, 2 * f + 2, 31, kLinkAccepted, 3, 1);
    }
    add(j, 5, 5, 6, 6, kLinkAccepted, 2, 0);
    std::ostringstream cells, averages;
    reportFrame(ws_->cells, ws_->history, ws_->scratch, j, monotonicMs(), cells, averages);
    const std::vector<std::string> f = fields(lines(averages.str())[0]);
    EXPECT_EQ(f[9], "1.67324");
    EXPECT_EQ(f[10], "1.76668");
    EXPECT_EQ(f[11], "1.81137");
    const std::vector<std::string> row = fields(lines(cells.str())[1]);
    EXPECT_EQ(row[24], "");
    EXPECT_EQ(row[25], "");
    EXPECT_EQ(row[26], "");
}

TEST_F(MeasureFrameReport, SmallCountIsOneWithoutSmallCells) {
    addCell(0, 30, 20, 0, 0, 100, 300);
    std::ostringstream cells, averages;
    reportFrame(ws_->cells, ws_->history, ws_->scratch, 2, monotonicMs(), cells, averages);
    const std::vector<std::string> f = fields(lines(averages.str())[0]);
    ASSERT_EQ(f.size(), 45u);
    EXPECT_EQ(std::vector<std::string>(f.begin() + 32, f.begin() + 38),
              (std::vector<std::string>{"1", "0", "0", "0", "0", "0"}));
    EXPECT_EQ(f[39], "1");
    EXPECT_EQ(f[40], "30");
    EXPECT_EQ(f[14], "3");  // Aspect
}

}  // namespace
}  // namespace vanto
