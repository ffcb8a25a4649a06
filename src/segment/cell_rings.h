#pragma once
#include <cstdint>

namespace vanto {

// The gray histograms the cell options judge a cell by. A cell's ring is the pixels of no cell
// at Euclidean distance 1 to 3 from one of its pixels.
// labels: w x h, a cell number 0..count-1 or negative (no cell). gray: the segmentation's view
// of the frame. inner, ring: count x 256 entries, overwritten with each cell's histogram of its
// own gray and of its ring's gray (a ring pixel counted once per cell within reach of it).
void countCellHistograms(const int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray,
                         int32_t* inner, int32_t* ring);

// The gray of rank k (0-based, darkest first) of a 256-bin histogram; 255 past its end.
int32_t grayOfRank(const int32_t* histogram, int64_t k);

// The number of values a 256-bin histogram holds.
int64_t histogramTotal(const int32_t* histogram);

}  // namespace vanto
