#include "segment/gaussian_smoothing.h"

#include <algorithm>
#include <cmath>

namespace vanto {

int32_t gaussianWeights(double sigma, int32_t* weights) {
    const int32_t radius = std::clamp(static_cast<int32_t>(std::ceil(3 * sigma)), 1, kMaxSmoothRadius);
    for (int32_t i = 0; i <= radius; ++i)
        weights[i] = static_cast<int32_t>(std::lround(4096.0 * std::exp(-0.5 * i * i / (sigma * sigma))));
    return radius;
}

void smoothGray(const uint8_t* gray, int32_t w, int32_t h, double sigma, int32_t* rowPass, uint8_t* out) {
    int32_t weights[kMaxSmoothRadius + 1];
    const int32_t r = gaussianWeights(sigma, weights);
    int64_t sum = weights[0];
    for (int32_t i = 1; i <= r; ++i) sum += 2 * weights[i];
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = gray + static_cast<int64_t>(y) * w;
        int32_t* pass = rowPass + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            int32_t acc = weights[0] * row[x];
            for (int32_t i = 1; i <= r; ++i)
                acc += weights[i] * (row[std::max(x - i, 0)] + row[std::min(x + i, w - 1)]);
            pass[x] = acc;
        }
    }
    const int64_t total = sum * sum;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int64_t acc = int64_t{weights[0]} * rowPass[static_cast<int64_t>(y) * w + x];
            for (int32_t i = 1; i <= r; ++i) {
                const int64_t up = rowPass[static_cast<int64_t>(std::max(y - i, 0)) * w + x];
                const int64_t down = rowPass[static_cast<int64_t>(std::min(y + i, h - 1)) * w + x];
                acc += weights[i] * (up + down);
            }
            out[static_cast<int64_t>(y) * w + x] = static_cast<uint8_t>((2 * acc + total) / (2 * total));
        }
    }
}

}  // namespace vanto
