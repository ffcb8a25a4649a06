#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/track_scratch.h"

namespace vanto {

// Splits the candidate links of slot into components and accepts or rejects each link
// (linkState 2 or 0), marking the matched cells' linkMark; merges the touching fragments of
// each resolved component of more than one link right after it, unless mergeFragments is
// false (-keep-divisions: a cell's touching parts stay apart). Reads the adjacency of the
// previous cells (history.prevAdjacency) and of the current ones (cells.pairMatrix).
void resolveLinks(FrameCells& cells, FrameHistory& history, TrackScratch& scratch, int32_t* slot,
                  bool mergeFragments = true);

}  // namespace vanto
