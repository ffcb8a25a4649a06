#pragma once
#include <cstdint>
#include <vector>

namespace vanto::testing {

// The reference of the fill tests: a plain search of a w x h frame from the pixels in stack,
// over the 4-neighbours or also the diagonal ones, that takes every in-frame neighbour q for
// which take(q) holds; take marks q, so that it holds only once.
template <typename Take>
void plainSearch(int32_t w, int32_t h, bool diagonal, std::vector<int32_t> stack, Take take) {
    while (!stack.empty()) {
        const int32_t p = stack.back();
        stack.pop_back();
        for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
                const int32_t x = p % w + dx, y = p / w + dy;
                if ((!diagonal && dx != 0 && dy != 0) || x < 0 || y < 0 || x >= w || y >= h) continue;
                if (take(y * w + x)) stack.push_back(y * w + x);
            }
        }
    }
}

}  // namespace vanto::testing
