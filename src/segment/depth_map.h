#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// Fills depthPlane: > 0 depth below the spill level of the pixel's dark basin, < 0 height
// above the spill level of its bright peak when larger than the depth, 0 otherwise.
// The spill level of p is the lowest, over all 4-connected paths from p to a frame-border
// pixel, of the highest gray on the path (the level at which rising water drains p); the
// peak level is the dual (highest over paths of the lowest gray). Uses maskPlane (as bytes)
// and scratchInts as scratch, and depthPlane before it is filled; no other plane is read or
// left meaningful.
void computeDepthMap(SegmentScratch& ws, const uint8_t* gray);

}  // namespace vanto
