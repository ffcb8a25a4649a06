#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

enum class TrackStatus { ok, tooManyLinks, tooManyCells };

// Tracking of frame number frame after segmentation. From frame 2 on, addtwo's results must
// already be in maskPlane (A) and workPlane (B). Leaves the final frameLabels and cellTable,
// the frame's completed link slot and the identities.
TrackStatus trackFrame(Workspace& ws, int32_t frame, int32_t smallCellArea);

}  // namespace vanto
