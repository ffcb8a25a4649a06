#pragma once
#include <cstdint>

namespace vanto {

// -min-area, -max-area: sets to -2 the pixels of every cell of cellTable (count records) whose
// size is below minArea, or above maxArea when maxArea > 0. labels: w x h cell numbers, or
// negative for no cell. Returns the cells dropped.
int32_t dropCellsByArea(int32_t* labels, int64_t pixels, const int32_t* cellTable, int32_t count, int32_t minArea,
                        int32_t maxArea);

}  // namespace vanto
