#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>

#include "compute/host_kernels.h"
#include "model/workspace.h"
#include "track/link_candidates.h"
#include "track/tracking.h"
#include "workspace_fixture.h"

namespace vanto::testing {

// Paints a label plane from text rows: '.' is no cell (-1), '0'..'9' and 'a'..'z' are the
// labels 0..35.
inline void paintPlane(int32_t* plane, int32_t w, int32_t h, std::initializer_list<const char*> rows) {
    ASSERT_EQ(static_cast<int32_t>(rows.size()), h);
    int32_t y = 0;
    for (const char* row : rows) {
        ASSERT_EQ(static_cast<int32_t>(std::string(row).size()), w) << "row " << y;
        for (int32_t x = 0; x < w; ++x) {
            const char c = row[x];
            plane[y * w + x] = c == '.' ? -1 : c <= '9' ? c - '0' : c - 'a' + 10;
        }
        ++y;
    }
}

// Writes records 0 .. count-1 for the labels of plane as segmentation leaves them (size,
// small flag, box, centre, relabelTo = own index, linkMark -1) and an end marker after them.
inline void writeRecords(int32_t* table, const int32_t* plane, int32_t w, int32_t h, int32_t count,
                         int32_t smallCellArea) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t* r = cellRecord(table, i);
        std::fill_n(r, kCellWords, 0);
        r[CellWord::minX] = w;
        r[CellWord::minY] = h;
        r[CellWord::maxX] = -1;
        r[CellWord::maxY] = -1;
        r[CellWord::relabelTo] = i;
        r[CellWord::linkMark] = kMarkUntouched;
    }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t l = plane[y * w + x];
            if (l < 0) continue;
            int32_t* r = cellRecord(table, l);
            ++r[CellWord::size];
            r[CellWord::minX] = std::min(r[CellWord::minX], x);
            r[CellWord::minY] = std::min(r[CellWord::minY], y);
            r[CellWord::maxX] = std::max(r[CellWord::maxX], x);
            r[CellWord::maxY] = std::max(r[CellWord::maxY], y);
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t* r = cellRecord(table, i);
        r[CellWord::smallFlag] = r[CellWord::size] < smallCellArea ? 1 : 0;
        r[CellWord::centerX] = (r[CellWord::minX] + r[CellWord::maxX]) / 2;
        r[CellWord::centerY] = (r[CellWord::minY] + r[CellWord::maxY]) / 2;
    }
    cellRecord(table, count)[CellWord::smallFlag] = -1;
}

// Sets the pixels x0..x1, y0..y1 of plane to label.
inline void fillRect(int32_t* plane, int32_t w, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t label) {
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) plane[y * w + x] = label;
}

// One whole frame of tracking after a hand-made segmentation already in segLabels with
// labels 0 .. curCount - 1: the previous frame's results become the previous ones first.
inline TrackStatus trackSegmented(Workspace& ws, int32_t frame, int32_t curCount, int32_t smallCellArea) {
    if (frame > 1) ws.exchangeFrames();
    writeRecords(ws.cells.cellTable, ws.cells.segLabels, ws.cells.width, ws.cells.height, curCount, smallCellArea);
    ws.cells.curCount = curCount;
    if (frame > 1) {
        const CrossFrameNearest nearest = ws.scratch.crossFrameNearest();
        addTwoHost(ws.history.prevFrameLabels, ws.cells.segLabels, ws.tables, ws.cells.width, ws.cells.height,
                   nearest.curNearPrev, nearest.prevNearCur);
    }
    return trackFrame(ws.cells, ws.history, ws.scratch, ws.tables, frame, smallCellArea);
}

inline TrackStatus trackRows(Workspace& ws, int32_t frame, std::initializer_list<const char*> rows, int32_t curCount,
                             int32_t smallCellArea) {
    paintPlane(ws.cells.segLabels, ws.cells.width, ws.cells.height, rows);
    return trackSegmented(ws, frame, curCount, smallCellArea);
}

// A previous frame and a current segmentation drawn by hand, linked as frame 2.
struct TrackScene {
    TrackScene(int32_t w, int32_t h) : ws(makeWorkspace(w, h)), width(w), height(h) {}

    // Previous final cells: records like the final labelling's, identities 10 + index.
    void setPrev(std::initializer_list<const char*> rows, int32_t count, int32_t smallCellArea) {
        paintPlane(ws->history.prevFrameLabels, width, height, rows);
        writeRecords(ws->history.prevCellTable, ws->history.prevFrameLabels, width, height, count, smallCellArea);
        for (int32_t i = 0; i < count; ++i) cellRecord(ws->history.prevCellTable, i)[CellWord::cellId] = 10 + i;
        ws->history.prevCount = count;
    }
    void setCur(std::initializer_list<const char*> rows, int32_t count, int32_t smallCellArea) {
        paintPlane(ws->cells.segLabels, width, height, rows);
        writeRecords(ws->cells.cellTable, ws->cells.segLabels, width, height, count, smallCellArea);
        ws->cells.curCount = count;
    }
    // addtwo on the host, then the candidate list.
    int32_t listCandidates() {
        const CrossFrameNearest nearest = ws->scratch.crossFrameNearest();
        addTwoHost(ws->history.prevFrameLabels, ws->cells.segLabels, ws->tables, width, height, nearest.curNearPrev,
                   nearest.prevNearCur);
        return listLinkCandidates(ws->cells, ws->history, nearest, ws->scratch.scratchInts, slot());
    }

    int32_t* slot() { return ws->history.slotOfFrame(2); }
    int32_t* entry(int32_t k) { return linkEntry(slot(), k); }
    int32_t state(int32_t k) { return entry(k)[LinkWord::linkState]; }
    int32_t* prev(int32_t i) { return cellRecord(ws->history.prevCellTable, i); }
    int32_t* cur(int32_t i) { return cellRecord(ws->cells.cellTable, i); }

    std::unique_ptr<Workspace> ws;
    int32_t width;
    int32_t height;
};

}  // namespace vanto::testing
