#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Brings the accepted entries of slot up to the final numbering, carries cellId, life and
// totalWay over exclusive accepted links, and gives every other final cell a fresh identity
// from ws.nextCellId in final-index order.
void carryIdentities(Workspace& ws, int32_t* slot);

}  // namespace vanto
