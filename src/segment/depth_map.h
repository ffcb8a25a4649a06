#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Fills pixelOrder (pixels by ascending gray) and depthPlane: > 0 depth below the spill level
// of the pixel's dark basin, < 0 height above the spill level of its bright peak when larger
// than the depth, 0 otherwise. Leaves frameLabels, workPlane and maskPlane holding the state
// of the bright-to-dark sweep.
void computeDepthMap(Workspace& ws, const uint8_t* gray);

}  // namespace vanto
