#pragma once
#include <cstdint>

namespace vanto {

// -edge-cut F: fits each cell's outline to its own depth. A cell's dark level is the 10th
// percentile of its gray (the value of rank (size - 1) / 10 from the darkest, 0-based), its
// background the median gray of its ring (the pixels of no cell at Euclidean distance 1 to 3
// from one of its pixels; the lower middle value of an even count), as for -min-contrast. A
// cell pixel stays only when its gray is at most dark + F x (background - dark); the others
// become -2. A cell without a ring, or whose ring is no brighter than its dark level, is left
// whole. The dark pixels always stay, so no cell vanishes, but one can fall apart into pieces.
// labels: w x h, a cell number 0..count-1 or negative (no cell). gray: the segmentation's view
// of the frame. fraction: F, above 0 and up to 1. inner, ring: count x 256 entries of scratch.
// Returns the pixels cut off.
int64_t cutCellEdges(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray, double fraction,
                     int32_t* inner, int32_t* ring);

}  // namespace vanto
