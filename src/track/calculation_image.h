#pragma once
#include <cstdint>

#include "image/canvas.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// Draws the calculation image of frame number frame on the canvas: outlines (red, yellow for
// small cells), the accepted links of the last five frames fading with age, and with drawIds
// the identities at each cell's first pixel (sets the cells' idDrawn). Writing the file is the
// caller's.
void drawCalculationImage(Canvas& canvas, FrameCells& cells, const FrameHistory& history, int32_t frame,
                          bool drawIds);

}  // namespace vanto
