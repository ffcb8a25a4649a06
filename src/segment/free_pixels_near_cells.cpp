#include "segment/free_pixels_near_cells.h"

#include "model/vector_clones.h"

namespace vanto::disc_scan {

VANTO_WITH_AVX2_CLONE void takeSpan(uint32_t* __restrict lowest, int32_t* __restrict highest,
                                    const uint32_t* __restrict fromLowest, const int32_t* __restrict fromHighest,
                                    int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        lowest[i] = std::min(lowest[i], fromLowest[i]);
        highest[i] = std::max(highest[i], fromHighest[i]);
    }
}

}  // namespace vanto::disc_scan
