#pragma once
#include <cstdint>

#include "model/neighbourhood_tables.h"
#include "synthetic_series.h"

namespace vanto {

// The extra processor time per frame of each cell option (-smooth, -split, -grow, -min-contrast,
// the area range) and of all of them together, from segmenting the frames of the series with
// and without, in interleaved rounds on this thread; prints the table and the ratio of the
// frame with every option on to the frame without. tables: the run's neighbourhood tables.
void printCellOptionCosts(const SeriesParams& params, int32_t frames, int32_t threshold, int32_t smallCellArea,
                          const NeighbourhoodTables& tables);

}  // namespace vanto
