#pragma once
#include <cstdint>

namespace vanto {

inline constexpr int kWindowOffsets = 441;  // the 21 x 21 window
inline constexpr int kDiscEntries = 120;
inline constexpr int kRayCapacity = 4800;

// The 441 window offsets sorted by squared distance, the disc sizes and the straight-line
// rays back to the centre. Built once at start-up and never changed.
struct NeighbourhoodTables {
    int8_t offsetDx[kWindowOffsets] = {};
    int8_t offsetDy[kWindowOffsets] = {};
    uint16_t discCount[kDiscEntries] = {};  // offsets with dx*dx + dy*dy <= j
    uint16_t rayEnd[kWindowOffsets] = {};   // ray k spans [rayEnd[k-1], rayEnd[k])
    int8_t rayX[kRayCapacity] = {};
    int8_t rayY[kRayCapacity] = {};

    int rayBegin(int k) const { return k == 0 ? 0 : rayEnd[k - 1]; }
};

// Offset prefixes in use: 4-neighbours, 8-neighbours, growth disc, neck and bridge disc.
inline constexpr int kFourNeighbours = 4;
inline constexpr int kEightNeighbours = 8;
inline constexpr int kGrowthOffsets = 20;
inline constexpr int kNeckOffsets = 88;

}  // namespace vanto
