#pragma once
#include <cstdint>

#include "measure/track_steps.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// The track steps of every cell of the frame, gathered in one pass over the last 45 slots
// instead of one pass per cell. Lives in a lent scratch block: the group of each cell, the
// sorted distinct identities, the start of each identity's steps and the step offsets.
// The steps of a cell come out in the same order as SlotScanSteps gives them.
class FrameTracks {
public:
    // False when the block cannot hold the lists; the caller then scans per cell.
    // The frame's cells' identities and the steps in history's slots.
    bool build(const FrameCells& cells, const FrameHistory& history, int32_t frame, int32_t* scratch,
               int64_t capacity);
    ListedSteps stepsOf(int32_t cellIndex) const;

private:
    int32_t identityGroup(int32_t cellId) const;

    const int32_t* linkHistory_ = nullptr;
    int32_t frame_ = 0;
    int32_t groupCount_ = 0;
    int32_t* groupOfCell_ = nullptr;  // per cell: its identity's group, or -1
    int32_t* identities_ = nullptr;   // sorted distinct identities of the frame's cells
    int32_t* start_ = nullptr;        // steps of group g: offsets_[start_[g] .. start_[g + 1])
    int32_t* offsets_ = nullptr;      // word offsets of the entries into linkHistory
};

}  // namespace vanto
