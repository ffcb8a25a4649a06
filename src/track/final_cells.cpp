#include "track/final_cells.h"

#include <algorithm>
#include <cmath>

#include "model/pixel_rows.h"

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
Widths measureWidths(const int32_t* piece, int64_t size, int32_t width, int32_t minX, int32_t minY, int32_t maxX,
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
    const PixelRows rows(width);
    for (int64_t i = 0; i < size; ++i) {
        const int32_t y = rows.row(piece[i]);
        const double dx = cx - rows.column(piece[i], y);
        const double dy = cy - y;
        reach = std::max(reach, std::abs(dx) + std::abs(dy));
        for (int k = 0; k < kWidthDirections; ++k) {
            const double v = dy * directions.c[k] - dx * directions.s[k];
            cheapLo[k] = std::min(cheapLo[k], v);
            cheapHi[k] = std::max(cheapHi[k], v);
        }
    }
    const double slack = 2e-9 * (reach + 1);
    for (int k = 0; k < kWidthDirections; ++k) {
        cheapLo[k] += slack;
        cheapHi[k] -= slack;
    }
    for (int64_t i = 0; i < size; ++i) {
        const int32_t y = rows.row(piece[i]);
        const double dx = cx - rows.column(piece[i], y);
        const double dy = cy - y;
        bool polar = false;
        double phi = 0;
        double r = 0;
        for (int k = 0; k < kWidthDirections; ++k) {
            const double cheap = dy * directions.c[k] - dx * directions.s[k];
            if (cheap > cheapLo[k] && cheap < cheapHi[k]) continue;
            if (!polar) {
                phi = std::atan2(dy, dx);
                r = std::sqrt(dx * dx + dy * dy);
                polar = true;
            }
            const double v = r * std::sin(phi - k * 3.0 / 180.0 * kPi);
            if (v < lo[k]) lo[k] = v;
            if (v > hi[k]) hi[k] = v;
        }
    }
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

}  // namespace

int32_t labelFinalCells(Workspace& ws, int32_t smallCellArea) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    const int64_t pixels = ws.pixelCount;
    const int32_t* labels = ws.segLabels;
    const NeighbourhoodTables& t = ws.tables;
    int32_t* visited = ws.workPlane;
    int32_t* labelMap = ws.pairMatrix;
    int32_t* queue = ws.scratchInts;
    std::fill_n(ws.frameLabels, pixels, -1);
    std::fill_n(visited, pixels, -1);
    std::fill_n(labelMap, kTableRecords, -1);

    const PixelRows rows(width);
    int32_t finalCount = 0;
    for (int64_t s = 0; s < pixels; ++s) {
        const int32_t label = labels[s];
        if (visited[s] != -1 || label < 0) continue;
        // The end marker needs a record of its own after the last cell.
        if (finalCount == kCellLimit - 1) {
            ws.finalCount = finalCount;
            cellRecord(ws.cellTable, finalCount)[CellWord::smallFlag] = kEndMarker;
            return kCellLimit;
        }
        const int32_t index = finalCount;

        int64_t size = 0;
        queue[size++] = static_cast<int32_t>(s);
        visited[s] = 1;
        int32_t circumference = 0;
        for (int64_t head = 0; head < size; ++head) {
            const int32_t q = queue[head];
            const int32_t y = rows.row(q);
            const int32_t x = rows.column(q, y);
            int32_t leaving = 0;
            for (int k = 1; k <= kFourNeighbours; ++k) {
                const int32_t nx = x + t.offsetDx[k];
                const int32_t ny = y + t.offsetDy[k];
                if (nx < 0 || ny < 0 || nx >= width || ny >= height) {
                    ++leaving;
                    continue;
                }
                const int32_t n = ny * width + nx;
                if (labels[n] != label) {
                    ++leaving;
                } else if (visited[n] == -1) {
                    queue[size++] = n;
                    visited[n] = 1;
                }
            }
            circumference += leaving;
            // Taken entries are not read again by the flood: mark the boundary pixels.
            if (leaving > 0) queue[head] = ~q;
        }
        if (label < kTableRecords) labelMap[label] = index;

        int32_t minX = width;
        int32_t minY = height;
        int32_t maxX = -1;
        int32_t maxY = -1;
        int64_t boundary = 0;
        for (int64_t i = 0; i < size; ++i) {
            const bool onBoundary = queue[i] < 0;
            const int32_t q = onBoundary ? ~queue[i] : queue[i];
            ws.frameLabels[q] = index;
            const int32_t y = rows.row(q);
            const int32_t x = rows.column(q, y);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
            if (onBoundary) queue[boundary++] = q;
        }
        const Widths w = measureWidths(queue, boundary, width, minX, minY, maxX, maxY);

        int32_t* rec = cellRecord(ws.cellTable, index);
        rec[CellWord::smallFlag] = size < smallCellArea ? 1 : 0;
        rec[CellWord::size] = static_cast<int32_t>(size);
        rec[CellWord::relabelTo] = 0;
        rec[CellWord::circumference] = circumference;
        rec[CellWord::minWidthAngle] = w.minAngle;
        rec[CellWord::maxWidthAngle] = w.maxAngle;
        rec[CellWord::centerX] = (minX + maxX) / 2;
        rec[CellWord::centerY] = (minY + maxY) / 2;
        rec[CellWord::minWidth] = w.minWidth;
        rec[CellWord::maxWidth] = w.maxWidth;
        rec[CellWord::minX] = minX;
        rec[CellWord::minY] = minY;
        rec[CellWord::maxX] = maxX;
        rec[CellWord::maxY] = maxY;
        rec[CellWord::cellId] = -1;
        rec[CellWord::life] = 0;
        rec[CellWord::totalWay] = 0;
        rec[CellWord::linkMark] = kMarkUntouched;
        rec[CellWord::idDrawn] = 0;
        ++finalCount;
    }
    cellRecord(ws.cellTable, finalCount)[CellWord::smallFlag] = kEndMarker;
    ws.finalCount = finalCount;
    return finalCount;
}

}  // namespace vanto
