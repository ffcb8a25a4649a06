#pragma once
#include <cstdint>

#include "model/neighbourhood_tables.h"

namespace vanto {

// Fills every table of t. indexScratch and keyScratch lend 441 ints each; the sort stack
// needs room for 222 ranges.
void buildNeighbourhoodTables(NeighbourhoodTables& t, int32_t* indexScratch, int32_t* keyScratch, int32_t* stack,
                              int64_t stackRanges);

}  // namespace vanto
