#include "model/pixel_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace vanto {
namespace {

TEST(PixelRows, RowAndColumnMatchDivisionForEveryWidthKind) {
    std::mt19937 rng(3);
    // Small, power-of-two, odd, frame-like and the largest widths; indices at row edges and random.
    for (int32_t w : {1, 2, 3, 7, 16, 640, 1023, 1024, 1392, 65535, 65536, 999983, INT32_MAX - 1, INT32_MAX}) {
        const PixelRows rows(w);
        auto check = [&](int64_t q) {
            if (q < 0 || q > INT32_MAX) return;
            const int32_t r = rows.row(static_cast<int32_t>(q));
            ASSERT_EQ(r, q / w) << "width " << w << ", index " << q;
            ASSERT_EQ(rows.column(static_cast<int32_t>(q), r), q % w) << "width " << w << ", index " << q;
        };
        for (int64_t row = 0; row < 50; ++row) {
            for (int64_t d : {int64_t{-1}, int64_t{0}, int64_t{1}}) check(row * w + d);
        }
        for (int64_t row = INT32_MAX / w; row > INT32_MAX / w - 50 && row >= 0; --row) {
            for (int64_t d : {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{w} - 1}) check(row * w + d);
        }
        for (int i = 0; i < 20000; ++i) check(rng() & INT32_MAX);
        check(INT32_MAX);
    }
}

}  // namespace
}  // namespace vanto
