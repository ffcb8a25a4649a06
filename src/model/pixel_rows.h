#pragma once
#include <cstdint>

namespace vanto {

// Row and column of a pixel index for one frame width, by a multiply and a shift instead of a
// division. With m = floor(2^62 / width) + 1, the error e = m * width - 2^62 lies in
// (0, width], so for an index q = a * width + b below 2^31 the product q * m / 2^62 is
// a + (b + q e / 2^62) / width with q e < 2^62: its floor is exactly a.
class PixelRows {
public:
    explicit PixelRows(int32_t width = 1)
        : width_(width), magic_(width > 0 ? (uint64_t{1} << 62) / static_cast<uint64_t>(width) + 1 : 0) {}

    // q: 0 <= q < 2^31.
    int32_t row(int32_t q) const {
        return static_cast<int32_t>((static_cast<unsigned __int128>(static_cast<uint32_t>(q)) * magic_) >> 62);
    }
    int32_t column(int32_t q, int32_t row) const { return q - row * width_; }

private:
    int32_t width_;
    uint64_t magic_;
};

}  // namespace vanto
