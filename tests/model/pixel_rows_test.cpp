#include "model/pixel_rows.h"
#include "model/plane_scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

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

namespace vanto {
namespace {

TEST(FirstNonNegative, AgreesWithALinearSearchFromEveryStart) {
    std::mt19937 random(4);
    for (int round = 0; round < 200; ++round) {
        std::vector<int32_t> values(1 + random() % 40);
        // Sparse labels among background values, INT32_MIN and -1 included.
        for (int32_t& v : values) {
            v = random() % 6 == 0 ? static_cast<int32_t>(random() % 3) : (random() % 2 ? -1 : INT32_MIN);
        }
        const int64_t n = static_cast<int64_t>(values.size());
        for (int64_t from = 0; from <= n; ++from) {
            int64_t expected = from;
            while (expected < n && values[expected] < 0) ++expected;
            ASSERT_EQ(firstNonNegative(values.data(), from, n), expected) << "round " << round << ", from " << from;
        }
    }
}

}  // namespace
}  // namespace vanto

namespace vanto {
namespace {

TEST(RunCounter, AddsEveryKeysCountWhateverItsRuns) {
    std::mt19937 random(6);
    std::vector<int64_t> keys;
    for (int i = 0; i < 500; ++i) keys.push_back(random() % 3 == 0 ? static_cast<int64_t>(random() % 7) : 0);
    std::vector<int32_t> counted(7, 0), expected(7, 0);
    RunCounter counter([&](int64_t key, int32_t n) { counted[key] += n; });
    for (int64_t key : keys) {
        counter.count(key);
        ++expected[key];
    }
    counter.finish();
    counter.finish();  // a second finish adds nothing
    EXPECT_EQ(counted, expected);
}

}  // namespace
}  // namespace vanto
