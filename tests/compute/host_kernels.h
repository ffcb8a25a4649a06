#pragma once
#include <cstdint>

#include "model/neighbourhood_tables.h"

namespace vanto {

// Plain host versions of the two kernels, to the same contracts; the tests check the device
// against them.

// A[p] = -1 where prevLabels[p] < 0, else the curLabels value at the first of the 441 sorted
// offsets of p (in frame) that is >= 0, or -1. B likewise with the two planes exchanged.
void addTwoHost(const int32_t* prevLabels, const int32_t* curLabels, const NeighbourhoodTables& tables, int32_t width,
                int32_t height, int32_t* outA, int32_t* outB);

// out[p] = index of the record (0 .. end marker, at most kTableRecords - 1) whose
// (centerX, centerY) is nearest to p by exact integer squared distance; the lowest index wins
// ties; -1 everywhere when record 0 is the end marker.
void addOneHost(const int32_t* cellTable, int32_t width, int32_t height, int32_t* out);

}  // namespace vanto
