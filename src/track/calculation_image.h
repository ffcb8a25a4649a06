#pragma once
#include <cstdint>

#include "image/canvas.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// Draws the calculation image of frame number frame on the canvas: outlines (red, yellow for
// small cells), the accepted links of the last five frames fading with age, and with drawIds
// the identities at each cell's first pixel, marking in idsDrawn (one byte per final cell, at
// least cells.finalCount) the cells drawn. Reads the cells and history only, so that it may run
// beside the frame's other outputs. Writing the file is the caller's.
void drawCalculationImage(Canvas& canvas, const FrameCells& cells, const FrameHistory& history, int32_t frame,
                          bool drawIds, uint8_t* idsDrawn);

}  // namespace vanto
