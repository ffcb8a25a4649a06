#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// From depthPlane: maskPlane = 1 for foreground, 0 for background; segLabels holds the
// depth classes 1 (shallow), 2 (bridge), 3 (speck), 4 (deep) and 10 (bright).
void buildForegroundMask(SegmentScratch& ws, int32_t threshold);

}  // namespace vanto
