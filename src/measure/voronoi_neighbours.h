#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// After addone has filled nearestCellMap: counts voronoiArea into word 2 of every final
// record and lists the touching region pairs (keys max * n + min, n = finalCount) in
// ws.voronoiPairs in order of first discovery, ws.voronoiPairCount counted from 0. Map values
// outside 0 .. n - 1 are neither counted nor paired, so a frame without cells touches nothing.
void countVoronoiNeighbours(Workspace& ws);

}  // namespace vanto
