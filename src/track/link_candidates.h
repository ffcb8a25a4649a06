#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Frame 2 on, after addtwo has left result A in maskPlane and result B in workPlane: counts
// the pixel support of every (previous, current) pair, writes the candidate links into slot
// in ascending matrix index and an end entry after them, builds prevAdjacency and the
// current adjacency in pairMatrix.
// Returns linkCount (also in ws.linkCount); at kLinkLimit or more nothing is written and the
// run must stop with "Link Number Too Much ".
int32_t listLinkCandidates(Workspace& ws, int32_t* slot);

}  // namespace vanto
