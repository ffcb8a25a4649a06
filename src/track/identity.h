#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/track_scratch.h"

namespace vanto {

// Brings the accepted entries of slot up to the final numbering through labelMap (relabelled
// label -> final index, or -1), carries cellId, life and totalWay from history's previous
// cells over exclusive accepted links, and gives every other final cell a fresh identity from
// history.nextCellId in final-index order.
void carryIdentities(FrameCells& cells, FrameHistory& history, const int32_t* labelMap, TrackScratch& scratch,
                     int32_t* slot);

}  // namespace vanto
