#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Per-component merge: for each previous cell of ws.prevCellList[0 .. prevCells), the
// touching current fragments it is linked to (accepted links among the n queued link numbers
// in queue) take each other's relabelTo, one way, later to earlier.
void mergeComponentFragments(Workspace& ws, const int32_t* slot, const int32_t* queue, int32_t n, int32_t prevCells);

// Frame 2 on: a current cell without candidates and not small takes the relabelTo of the last
// touching matched cell.
void absorbUnlinkedFragments(Workspace& ws);

// Every frame: segLabels relabelled through relabelTo, then background holes wholly inside one
// cell filled with its label. workPlane and maskPlane are scratch.
void relabelAndFillHoles(Workspace& ws);

}  // namespace vanto
