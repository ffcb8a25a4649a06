#include "model/measure_planes.h"

#include <algorithm>

namespace vanto {

bool MeasurePlanes::reserve(int32_t planes, int64_t pixels) {
    count_ = std::max(planes, 0);
    pixels_ = std::max<int64_t>(pixels, 0);
    loaded_.assign(static_cast<size_t>(count_), 0);
    if (count_ == 0) return true;
    values_ = reserveBlock<float>(count_ * pixels_);
    return values_ != nullptr;
}

}  // namespace vanto
