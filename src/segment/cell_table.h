#pragma once
#include <cstdint>

#include "model/segment_scratch.h"

namespace vanto {

// Numbers the 4-connected pieces of equal region id in raster order, rewrites segLabels to
// cell numbers and writes the segmentation records into cellTable. Returns curCount (also
// stored in ws.curCount); returns kCellLimit when the frame reaches its 2,000th cell, and
// the run must then stop with "Cell Number Too Much ".
int32_t buildCellTable(SegmentScratch& ws, int32_t smallCellArea);

}  // namespace vanto
