#pragma once
#include <cstdint>

namespace vanto {

// Reorders index[0..last] so that key[index[i]] ascends. One iterative quicksort, not
// stable: its order of equal keys is part of the results (equidistant offsets, pixels of
// equal gray, equal link overlaps), so no library sort may stand in for it.
// stack has room for stackRanges pending ranges (2 ints each); last / 2 + 2 always suffice.
void sortIndicesByIntKey(int32_t* index, const int32_t* key, int32_t last, int32_t* stack, int64_t stackRanges);
void sortIndicesByByteKey(int32_t* index, const uint8_t* key, int32_t last, int32_t* stack, int64_t stackRanges);

}  // namespace vanto
