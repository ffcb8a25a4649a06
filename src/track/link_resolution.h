#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Splits the candidate links of slot into components and accepts or rejects each link
// (linkState 2 or 0), marking the matched cells' linkMark; merges the touching fragments of
// each resolved component of more than one link right after it.
void resolveLinks(Workspace& ws, int32_t* slot);

}  // namespace vanto
