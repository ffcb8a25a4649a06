#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// After addone has filled nearestCellMap: counts voronoiArea into word 2 of every final
// record and lists the touching region pairs (keys max * n + min, n = finalCount) in
// ws.voronoiPairs in order of first discovery. A frame without cells counts nothing.
void countVoronoiNeighbours(Workspace& ws);

}  // namespace vanto
