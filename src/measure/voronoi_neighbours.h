#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/neighbourhood_tables.h"

namespace vanto {

// After nearestCellMap is filled: counts voronoiArea into word 2 of every final record and
// lists the touching region pairs (keys max * n + min, n = finalCount) in cells.voronoiPairs
// in order of first discovery, cells.voronoiPairCount counted from 0; cells.pairMatrix holds
// the pair flags, a bit a key (bit key % 32 of entry key / 32). Map values outside 0 .. n - 1 are neither counted nor paired, so a frame
// without cells touches nothing.
void countVoronoiNeighbours(FrameCells& cells, const NeighbourhoodTables& tables);

}  // namespace vanto
