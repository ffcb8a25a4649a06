#pragma once
#include <cstdint>

#include "model/run_config.h"
#include "model/workspace.h"

namespace vanto {

// All segmentation stages of a frame in order; returns buildCellTable's result.
int32_t segmentFrame(Workspace& ws, const uint8_t* gray, const RunConfig& config);

}  // namespace vanto
