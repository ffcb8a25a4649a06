#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/neighbourhood_tables.h"
#include "model/track_scratch.h"

namespace vanto {

// Per-component merge: for each previous cell of scratch.prevCellList[0 .. prevCells), the
// current fragments it is linked to (accepted links among the n queued link numbers in queue)
// that touch (current adjacency in cells.pairMatrix) take each other's relabelTo, one way,
// later to earlier.
void mergeComponentFragments(FrameCells& cells, TrackScratch& scratch, const int32_t* slot, const int32_t* queue,
                             int32_t n, int32_t prevCells);

// Frame 2 on: a current cell without candidates and not small takes the relabelTo of the last
// touching matched cell (current adjacency in cells.pairMatrix).
void absorbUnlinkedFragments(FrameCells& cells);

// Every frame: segLabels relabelled through relabelTo, then background holes wholly inside one
// cell filled with its label.
void relabelAndFillHoles(FrameCells& cells, HoleFillScratch scratch, const NeighbourhoodTables& tables);

}  // namespace vanto
