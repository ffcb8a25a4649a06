#pragma once
#include <cstdint>

#include "image/canvas.h"
#include "model/workspace.h"

namespace vanto {

// Draws the calculation image of frame number frame on the canvas: outlines (red, yellow for
// small cells), the accepted links of the last five frames fading with age, and with drawIds
// the identities at each cell's first pixel (sets idDrawn). Writing the file is the caller's.
void drawCalculationImage(Canvas& canvas, Workspace& ws, int32_t frame, bool drawIds);

}  // namespace vanto
