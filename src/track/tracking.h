#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/neighbourhood_tables.h"
#include "model/track_scratch.h"

namespace vanto {

enum class TrackStatus { ok, tooManyLinks, tooManyCells };

// Tracking of frame number frame after segmentation. From frame 2 on, the results of
// nearestLabelsAcrossFrames must already be in scratch.crossFrameNearest(). Leaves the final
// frameLabels, cellTable and finalCount in cells; in history the frame's completed link slot,
// the previous cells' adjacency and link marks, and the identity counter. mergeFragments false
// (-keep-divisions) leaves the touching parts of one previous cell apart.
TrackStatus trackFrame(FrameCells& cells, FrameHistory& history, TrackScratch& scratch,
                       const NeighbourhoodTables& tables, int32_t frame, int32_t smallCellArea,
                       bool mergeFragments = true);

}  // namespace vanto
