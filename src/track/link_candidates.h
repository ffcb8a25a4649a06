#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/track_scratch.h"

namespace vanto {

// Frame 2 on, given the nearest labels across frames: counts the pixel support of the
// (previous, current) pairs that have some in cells.pairMatrix (the entries of the other pairs
// are left as they were), lists their matrix indices in ascending order
// in linkList (kLinkLimit entries), writes the candidate links into slot in that order and an
// end entry after them, builds history.prevAdjacency and the current adjacency in
// cells.pairMatrix.
// Returns linkCount (also in cells.linkCount); at kLinkLimit or more nothing is written to
// slot and the run must stop with "Link Number Too Much ".
int32_t listLinkCandidates(FrameCells& cells, FrameHistory& history, CrossFrameNearest nearest, int32_t* linkList,
                           int32_t* slot);

}  // namespace vanto
