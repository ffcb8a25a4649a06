#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// Cuts blobs of maskPlane at their necks and labels the foreground into 4-connected regions:
// frameLabels = region id, -3 cut pixel not handed back, -2 shallow background, -1 other.
// ws.regionSize[id] = recorded size (0 for deep cut pieces). Returns and stores regionCount.
int32_t cutNecksAndLabel(SegmentScratch& ws);

}  // namespace vanto
