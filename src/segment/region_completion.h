#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// Grows the regions of frameLabels into shallow and free ground, merges regions of recorded
// size below 160 into their best-touching neighbour, fills enclosed pockets. Result in
// segLabels: a region id, or -2. Updates ws.regionSize. workPlane and maskPlane are scratch.
void completeRegions(SegmentScratch& ws);

}  // namespace vanto
