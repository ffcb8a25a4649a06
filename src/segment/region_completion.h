#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// Grows the regions of frameLabels into shallow and free ground, merges regions of recorded
// size below 160 into their best-touching neighbour, fills enclosed pockets. Result in
// segLabels: a region id, or -2. Updates ws.regionSize. workPlane and maskPlane are scratch.
void completeRegions(SegmentScratch& ws);

// The pixels a growth step must look at: near[p] = 1 when from[p] is free (-2) and the square
// of half side r (0 <= r < 128) around p holds a label (>= 0) of from, else 0. scratch holds
// 2 * w * h bytes.
void markFreeNearLabels(const int32_t* from, int32_t w, int32_t h, int32_t r, uint8_t* scratch, uint8_t* near);

}  // namespace vanto
