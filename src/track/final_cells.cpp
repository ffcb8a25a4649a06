#include "track/final_cells.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "model/pixel_rows.h"
#include "segment/flood_fill.h"

namespace vanto {

namespace {

constexpr int kWidthDirections = 60;
constexpr double kPi = 3.1415927;

struct Widths {
    int32_t minWidth = 0;
    int32_t minAngle = 0;
    int32_t maxWidth = 0;
    int32_t maxAngle = 0;
};

// Direction k's unit normal (cos, sin of k * 3 degrees, with the same kPi).
struct DirectionTable {
    double c[kWidthDirections];
    double s[kWidthDirections];
    DirectionTable() {
        for (int k = 0; k < kWidthDirections; ++k) {
            c[k] = std::cos(k * 3.0 / 180.0 * kPi);
            s[k] = std::sin(k * 3.0 / 180.0 * kPi);
        }
    }
};

// Extent of the piece across lines at 0, 3, ..., 177 degrees through the box centre; the
// first direction wins a tie. Only the boundary pixels (those with a direct neighbour outside
// the piece) are passed: v is linear in the pixel position, and an inner pixel always has a
// direct neighbour whose v is larger, and one whose v is smaller, by at least 0.7, far beyond
// any rounding, so the extremes and hence every width are exactly those over all pixels.
//
// v = r sin(phi - a) is dy cos a - dx sin a. That cheap form differs from the computed
// r sin(phi - a) by far less than slack, so the pixel holding an extreme of the computed v is
// among those whose cheap v lies within 2 slack of the cheap extreme; the computed v, exactly
// as written below, is evaluated for those pixels only. The extremes are values, so which
// pixel supplies them does not matter.
//
// eachBoundary(visit) calls visit(x, y) for every boundary pixel, in any order; eachRunEnd
// for the first and last pixel of every row run of the piece. Over a run, the cheap v and
// |dx| + |dy| are linear and convex in x, so their extremes over the piece lie at run ends,
// up to rounding far below slack.
template <typename EachBoundary, typename EachRunEnd>
Widths measureWidths(EachBoundary eachBoundary, EachRunEnd eachRunEnd, int32_t minX, int32_t minY, int32_t maxX,
                     int32_t maxY) {
    static const DirectionTable directions;
    const double cx = (minX + maxX) * 0.5;
    const double cy = (minY + maxY) * 0.5;
    double lo[kWidthDirections] = {};
    double hi[kWidthDirections] = {};
    double cheapLo[kWidthDirections];
    double cheapHi[kWidthDirections];
    std::fill_n(cheapLo, kWidthDirections, 0.0);
    std::fill_n(cheapHi, kWidthDirections, 0.0);
    double reach = 0;
    eachRunEnd([&](int32_t x, int32_t y) {
        const double dx = cx - x;
        const double dy = cy - y;
        reach = std::max(reach, std::abs(dx) + std::abs(dy));
        for (int k = 0; k < kWidthDirections; ++k) {
            const double v = dy * directions.c[k] - dx * directions.s[k];
            cheapLo[k] = std::min(cheapLo[k], v);
            cheapHi[k] = std::max(cheapHi[k], v);
        }
    });
    const double slack = 2e-9 * (reach + 1);
    for (int k = 0; k < kWidthDirections; ++k) {
        cheapLo[k] += slack;
        cheapHi[k] -= slack;
    }
    eachBoundary([&](int32_t x, int32_t y) {
        const double dx = cx - x;
        const double dy = cy - y;
        // The directions in which this pixel may hold an extreme, as bits, found without
        // branches; most pixels hold none.
        uint64_t near = 0;
        for (int k = 0; k < kWidthDirections; ++k) {
            const double cheap = dy * directions.c[k] - dx * directions.s[k];
            near |= static_cast<uint64_t>(!(cheap > cheapLo[k] && cheap < cheapHi[k])) << k;
        }
        if (near == 0) return;
        const double phi = std::atan2(dy, dx);
        const double r = std::sqrt(dx * dx + dy * dy);
        for (; near != 0; near &= near - 1) {
            const int k = std::countr_zero(near);
            const double v = r * std::sin(phi - k * 3.0 / 180.0 * kPi);
            if (v < lo[k]) lo[k] = v;
            if (v > hi[k]) hi[k] = v;
        }
    });
    double minW = 100000000;
    double maxW = 0;
    Widths w;
    for (int k = 0; k < kWidthDirections; ++k) {
        const double extent = hi[k] - lo[k];
        if (extent < minW) {
            minW = extent;
            w.minAngle = (90 + 3 * k) % 180;
        }
        if (extent > maxW) {
            maxW = extent;
            w.maxAngle = (90 + 3 * k) % 180;
        }
    }
    w.minWidth = static_cast<int32_t>(minW * 100);
    w.maxWidth = static_cast<int32_t>(maxW * 100);
    return w;
}

// What a final cell's record is written from.
struct PieceMeasures {
    int64_t size;
    int32_t circumference;
    Widths widths;
    int32_t minX, minY, maxX, maxY;
};

void writeFinalRecord(int32_t* rec, const PieceMeasures& m, int32_t smallCellArea) {
    rec[CellWord::smallFlag] = m.size < smallCellArea ? 1 : 0;
    rec[CellWord::size] = static_cast<int32_t>(m.size);
    rec[CellWord::relabelTo] = 0;
    rec[CellWord::circumference] = m.circumference;
    rec[CellWord::minWidthAngle] = m.widths.minAngle;
    rec[CellWord::maxWidthAngle] = m.widths.maxAngle;
    rec[CellWord::centerX] = (m.minX + m.maxX) / 2;
    rec[CellWord::centerY] = (m.minY + m.maxY) / 2;
    rec[CellWord::minWidth] = m.widths.minWidth;
    rec[CellWord::maxWidth] = m.widths.maxWidth;
    rec[CellWord::minX] = m.minX;
    rec[CellWord::minY] = m.minY;
    rec[CellWord::maxX] = m.maxX;
    rec[CellWord::maxY] = m.maxY;
    rec[CellWord::cellId] = -1;
    rec[CellWord::life] = 0;
    rec[CellWord::totalWay] = 0;
    rec[CellWord::linkMark] = kMarkUntouched;
    rec[CellWord::idDrawn] = 0;
}

}  // namespace

int32_t labelFinalCells(FrameCells& cells, int32_t* queue, int32_t smallCellArea) {
    const int32_t width = cells.width;
    const int32_t height = cells.height;
    const int64_t pixels = cells.pixelCount;
    const int32_t* labels = cells.segLabels;
    int32_t* frameLabels = cells.frameLabels;
    int32_t* labelMap = cells.pairMatrix;
    std::fill_n(frameLabels, pixels, -1);
    std::fill_n(labelMap, kTableRecords, -1);

    const PixelRows rows(width);
    int32_t finalCount = 0;
    for (int64_t s = 0; s < pixels; ++s) {
        const int32_t label = labels[s];
        if (label < 0 || frameLabels[s] != -1) continue;
        // The end marker needs a record of its own after the last cell.
        if (finalCount == kCellLimit - 1) {
            cells.finalCount = finalCount;
            cellRecord(cells.cellTable, finalCount)[CellWord::smallFlag] = kEndMarker;
            return kCellLimit;
        }
        const int32_t index = finalCount;

        // The piece a row run at a time, numbered in frameLabels. A run's row neighbours hold
        // other labels (or lie outside): a same-label pixel beside it would belong to the run.
        const auto inPiece = [=](int32_t q) { return frameLabels[q] == index; };
        RunFill piece(
            width, height, queue, false, [=](int32_t q) { return frameLabels[q] == -1 && labels[q] == label; },
            [=](int32_t q) { frameLabels[q] = index; }, inPiece);
        piece.seedPixel(static_cast<int32_t>(s));
        const int64_t size = piece.spread();
        const int32_t runs = piece.runs();
        // run(y, left, right) for every row run of the piece.
        const auto eachRun = [&](auto&& run) {
            for (int32_t i = 0; i < runs; ++i) {
                const int32_t first = queue[i];
                const int32_t y = rows.row(first);
                const int32_t left = rows.column(first, y);
                int32_t right = left;
                while (right + 1 < width && inPiece(first + right + 1 - left)) ++right;
                run(y, left, right);
            }
        };
        // visit(x, y, leaving) for every pixel of the piece, leaving its direct neighbours
        // outside the piece.
        const auto eachPixel = [&](auto&& visit) {
            eachRun([&](int32_t y, int32_t left, int32_t right) {
                for (int32_t x = left, p = y * width + left; x <= right; ++x, ++p) {
                    const int32_t leaving = (x == left) + (x == right) + (y == 0 || labels[p - width] != label) +
                                            (y == height - 1 || labels[p + width] != label);
                    visit(x, y, leaving);
                }
            });
        };
        int32_t circumference = 0;
        eachPixel([&](int32_t, int32_t, int32_t leaving) { circumference += leaving; });
        if (label < kTableRecords) labelMap[label] = index;

        const int32_t minX = piece.minX(), minY = piece.minY(), maxX = piece.maxX(), maxY = piece.maxY();
        const Widths w = measureWidths(
            [&](auto&& visit) {
                eachPixel([&](int32_t x, int32_t y, int32_t leaving) {
                    if (leaving > 0) visit(x, y);
                });
            },
            [&](auto&& visit) {
                eachRun([&](int32_t y, int32_t left, int32_t right) {
                    visit(left, y);
                    visit(right, y);
                });
            },
            minX, minY, maxX, maxY);

        writeFinalRecord(cellRecord(cells.cellTable, index),
                         PieceMeasures{size, circumference, w, minX, minY, maxX, maxY}, smallCellArea);
        ++finalCount;
    }
    cellRecord(cells.cellTable, finalCount)[CellWord::smallFlag] = kEndMarker;
    cells.finalCount = finalCount;
    return finalCount;
}

}  // namespace vanto
