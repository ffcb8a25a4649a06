#pragma once
#include <cstdint>

#include "model/frame_in_flight.h"
#include "model/run_config.h"
#include "model/segment_scratch.h"

namespace vanto {

// All segmentation stages of one frame in order, on the calling thread. Reads frame.gray()
// (255 - gray with config.invert);
// writes frame.segLabels, frame.cellTable and frame.curCount (buildCellTable's result, which
// is also returned); uses only the planes of scratch besides, whose output pointers stay lent
// to the frame afterwards. Frames on different threads with different scratches do not touch
// each other.
int32_t segmentFrame(SegmentScratch& scratch, FrameInFlight& frame, const RunConfig& config);

}  // namespace vanto
