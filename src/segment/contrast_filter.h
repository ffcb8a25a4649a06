#pragma once
#include <cstdint>

namespace vanto {

// -min-contrast: drops every cell whose ring contrast is below minContrast gray levels. A
// cell's ring is the pixels of no cell at Euclidean distance 1 to 3 from one of its pixels;
// its contrast is the ring's median gray (the lower middle value of an even count) minus the
// 10th percentile of the cell's own gray (the value of rank (size - 1) / 10 from the darkest,
// 0-based). A cell without a ring is kept.
// labels: w x h, a cell number 0..count-1 or negative (no cell); a dropped cell's pixels become
// -2. gray: the segmentation's view of the frame. inner, ring: count x 256 entries of scratch.
// Returns the cells dropped.
int32_t dropLowContrastCells(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray,
                             double minContrast, int32_t* inner, int32_t* ring);

}  // namespace vanto
