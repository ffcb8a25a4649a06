#pragma once
#include <cstdint>
#include <vector>

#include "model/neighbourhood_tables.h"

namespace vanto {

// The depth map computed literally: pixels sorted by gray with the run's quicksort, then a
// dark-to-bright and a bright-to-dark union-find sweep, each closing a region when one of its
// pixels meets the frame border or a closed region. It is the reference that the linear-time
// computeDepthMap is checked and timed against. Buffers are kept between calls.
class LiteralDepthMap {
public:
    // depth: w * h entries, same meaning as Workspace::depthPlane after computeDepthMap.
    void compute(const NeighbourhoodTables& tables, const uint8_t* gray, int32_t w, int32_t h, int32_t* depth);

private:
    void sweep(const NeighbourhoodTables& tables, int32_t w, int32_t h, bool ascending);

    std::vector<int32_t> order_, labels_, parent_, closing_, stack_;
};

}  // namespace vanto
