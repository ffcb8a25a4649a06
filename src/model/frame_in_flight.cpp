#include "model/frame_in_flight.h"

#include <algorithm>
#include <new>

#include "model/records.h"

namespace vanto {

int64_t FrameInFlight::bytesFor(int64_t n) { return n + 4 * n + 4 * int64_t{kTableRecords} * kCellWords; }

bool FrameInFlight::reserve(int32_t frameWidth, int32_t frameHeight) {
    const int64_t w = std::max<int64_t>(frameWidth, 0);
    const int64_t h = std::max<int64_t>(frameHeight, 0);
    const int64_t n = w * h;
    if (n >= INT64_MAX / 16) return false;
    gray_ = reserveBlock<uint8_t>(n);
    labels_ = reserveBlock<int32_t>(n);
    records_ = reserveBlock<int32_t>(int64_t{kTableRecords} * kCellWords);
    if (!gray_ || !labels_ || !records_) return false;
    std::fill_n(gray_.get(), std::max<int64_t>(n, 1), uint8_t{0});
    segLabels = labels_.get();
    cellTable = records_.get();
    return true;
}

}  // namespace vanto
