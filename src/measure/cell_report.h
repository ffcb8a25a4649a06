#pragma once
#include <cstdint>
#include <ostream>

#include "measure/diffusion.h"
#include "measure/motion_measures.h"

namespace vanto {

// Perimeter of the circle of the cell's area over its edge count (cell report column 6).
double circularity(const int32_t* record);

// The "_cell.csv" row of the cell at index of the frame. Columns 29 to 32 and their commas
// are left out when the cell has no step in the current frame. Ends the line and flushes.
void writeCellRow(std::ostream& out, int32_t frame, int32_t index, const int32_t* record,
                  const MotionMeasures& motion, const DiffusionExponents& diffusion);

}  // namespace vanto
