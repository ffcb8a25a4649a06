#pragma once
#include <cstdint>

#include "model/records.h"

namespace vanto {

// What one frame leaves for the next ones: the previous frame's final labels and cell table
// (with their count), the adjacency of the previous cells, the link history of the last
// kSlotCount frames and the run-wide identity counter. Planes are width x height as in
// FrameCells. The blocks belong to the Workspace; Workspace::exchangeFrames fills the previous
// labels, table and count from the frame just finished. Tracking writes the frame's link slot,
// the adjacency, the linkMark words of the previous records and nextCellId; measuring and the
// exports only read.
struct FrameHistory {
    // Slot of frame number j (j mod kSlotCount), and slot number s. A slot's entries run up to
    // its end entry (see endSlotAt); what lies after it is stale and never read.
    int32_t* slotOfFrame(int32_t frame) { return slotAt(frame % kSlotCount); }
    int32_t* slotAt(int32_t s) { return linkHistory + static_cast<int64_t>(s) * kSlotWords; }
    const int32_t* slotAt(int32_t s) const { return linkHistory + static_cast<int64_t>(s) * kSlotWords; }

    int32_t* prevFrameLabels = nullptr;  // final labels of the previous frame
    int32_t* prevCellTable = nullptr;    // kTableRecords records: final cells of the previous frame
    int32_t* prevAdjacency = nullptr;    // kMatrixEntries: a * prevCount + b = 1 when cells a, b touch
    int32_t* linkHistory = nullptr;      // kSlotCount slots of kSlotWords
    int32_t prevCount = 0;               // final cells of the previous frame
    int32_t nextCellId = 0;              // next fresh identity
};

}  // namespace vanto
