#include "segment/flood_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "plain_search.h"

namespace vanto {
namespace {

// Every pixel set reachable from a seed, their count and box, against a plain search, for 4-
// and 8-connectivity on random pictures of several densities and sizes (single rows and
// columns included).
// Pixels marked elsewhere beforehand (value 2) are neither open nor taken.
TEST(RunFill, MarksExactlyTheConnectedOpenPixels) {
    std::mt19937 random(11);
    for (const auto& [w, h] :
         {std::pair{1, 1}, std::pair{1, 9}, std::pair{11, 1}, std::pair{7, 6}, std::pair{33, 21}, std::pair{70, 9}}) {
        const int32_t n = w * h;
        for (int round = 0; round < 120; ++round) {
            const bool diagonal = round % 2 == 1;
            const unsigned density = 2 + round % 5;  // one in density pixels is closed
            std::vector<int32_t> plane(n);
            for (int32_t& v : plane) v = random() % density == 0 ? 1 : random() % 17 == 0 ? 2 : 0;
            const int32_t seed = static_cast<int32_t>(random() % n);
            if (plane[seed] != 0) continue;

            std::vector<int32_t> expected = plane;
            expected[seed] = 3;
            testing::plainSearch(w, h, diagonal, {seed}, [&](int32_t q) {
                if (expected[q] != 0) return false;
                expected[q] = 3;
                return true;
            });

            // The same fill over a byte plane, whose rows are scanned a word at a time.
            std::vector<uint8_t> bytes(plane.begin(), plane.end());
            std::vector<int32_t> queue(n);
            RunFill byteFill(w, h, queue.data(), diagonal, BytePlaneTests{bytes.data(), 0, 3});
            byteFill.seed(seed % w, seed / w);
            const int64_t byteCount = byteFill.spread();

            int32_t* v = plane.data();
            RunFill fill(
                w, h, queue.data(), diagonal, [v](int32_t q) { return v[q] == 0; }, [v](int32_t q) { v[q] = 3; },
                [v](int32_t q) { return v[q] == 3; });
            fill.seed(seed % w, seed / w);
            const int64_t count = fill.spread();
            int64_t expectedCount = 0;
            int32_t box[4] = {w, -1, h, -1};  // min x, max x, min y, max y
            for (int32_t p = 0; p < n; ++p) {
                if (expected[p] != 3) continue;
                ++expectedCount;
                box[0] = std::min(box[0], p % w);
                box[1] = std::max(box[1], p % w);
                box[2] = std::min(box[2], p / w);
                box[3] = std::max(box[3], p / w);
            }
            ASSERT_EQ(plane, expected) << w << " x " << h << ", round " << round;
            ASSERT_EQ(count, expectedCount) << w << " x " << h << ", round " << round;
            ASSERT_EQ(std::vector<int32_t>(bytes.begin(), bytes.end()), expected)
                << w << " x " << h << ", round " << round;
            ASSERT_EQ(byteCount, expectedCount) << w << " x " << h << ", round " << round;
            const int32_t got[4] = {fill.minX(), fill.maxX(), fill.minY(), fill.maxY()};
            for (int i = 0; i < 4; ++i) ASSERT_EQ(got[i], box[i]) << w << " x " << h << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace vanto
