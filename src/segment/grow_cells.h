#pragma once
#include <cstdint>

namespace vanto {

inline constexpr int32_t kMaxGrow = 20;  // -grow allows -20 to 20 pixels

// -grow K on labels (w x h: a cell number >= 0, or negative for no cell), |K| <= kMaxGrow.
// K > 0: every pixel of no cell within Euclidean distance K of a cell pixel goes to the cell
// of the nearest such pixel (the lowest cell number among the nearest), cell pixels stay.
// K < 0: a cell pixel stays only when every pixel of the frame within distance |K| belongs to
// its cell; the others become -2 (a cell can vanish or fall apart). copy: w x h entries of
// scratch, the labels as they were.
void growCells(int32_t* labels, int32_t w, int32_t h, int32_t k, int32_t* copy);

}  // namespace vanto
