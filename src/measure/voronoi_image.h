#pragma once
#include "image/canvas.h"
#include "model/frame_cells.h"

namespace vanto {

// Draws the Voronoi image on the canvas: red outlines of cells that are not small, blue
// region borders of nearestCellMap, yellow lines between the centres of touching regions.
// Writing the file is the caller's.
void drawVoronoiImage(Canvas& canvas, const FrameCells& cells);

}  // namespace vanto
