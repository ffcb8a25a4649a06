#pragma once
#include <cstdint>

#include "segment/offset_steps.h"

namespace vanto {

// Pixel states of fillEnclosedAreas, one byte each.
inline constexpr uint8_t kAreaUnseen = 0;
inline constexpr uint8_t kAreaLabelled = 1;

// Unlabelled areas (labels < 0, 4-connected) that touch no frame edge and whose labelled
// direct neighbours all carry one label take that label. Each area is searched from its first
// pixel in index order, and the search stops at the pixel after which it cannot succeed. On
// entry state (a byte plane of the frame) holds kAreaLabelled for labelled pixels and
// kAreaUnseen for the others; seedOf is a frame plane of scratch, and queue needs one entry per
// pixel. On return both planes hold search marks.
void fillEnclosedAreas(int32_t* labels, uint8_t* state, int32_t* seedOf, int32_t* queue, const OffsetSteps& s,
                       int32_t width, int32_t height);

}  // namespace vanto
