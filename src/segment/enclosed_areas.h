#pragma once
#include <cstdint>

#include "segment/offset_steps.h"

namespace vanto {

// mark values of fillEnclosedAreas.
inline constexpr int32_t kMarkLabelled = -3;
inline constexpr int32_t kMarkUnseen = -1;

// Unlabelled areas (labels < 0, 4-connected) that touch no frame edge and whose labelled
// direct neighbours all carry one label take that label. Each area is searched from its first
// pixel in index order, and the search stops at the pixel after which it cannot succeed. On
// entry mark (a frame plane) holds kMarkLabelled for labelled pixels and kMarkUnseen for the
// others; on return it holds search marks. queue needs one entry per pixel.
void fillEnclosedAreas(int32_t* labels, int32_t* mark, int32_t* queue, const OffsetSteps& s, int32_t width,
                       int32_t height);

}  // namespace vanto
