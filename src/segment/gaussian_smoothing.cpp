#include "segment/gaussian_smoothing.h"

#include <algorithm>
#include <cmath>

#include "model/vector_clones.h"

namespace vanto {

int32_t gaussianWeights(double sigma, int32_t* weights) {
    const int32_t radius = std::clamp(static_cast<int32_t>(std::ceil(3 * sigma)), 1, kMaxSmoothRadius);
    for (int32_t i = 0; i <= radius; ++i)
        weights[i] = static_cast<int32_t>(std::lround(4096.0 * std::exp(-0.5 * i * i / (sigma * sigma))));
    return radius;
}

namespace {

// (2 acc + total) / (2 total) rounded down, for 0 <= acc <= 255 total: a quotient from the
// reciprocal, then put right with exact products. Every value here is an integer below 2^53,
// so each product and sum is exact in a double.
uint8_t roundedQuotient(double acc, double total, double reciprocal) {
    const double num = 2 * acc + total;
    const int32_t guess = static_cast<int32_t>(num * reciprocal);  // rounded down: num >= 0
    const double q = guess;
    const int32_t q2 = guess - (q * (2 * total) > num ? 1 : 0) + ((q + 1) * (2 * total) <= num ? 1 : 0);
    return static_cast<uint8_t>(q2);
}

// Pixels of a row summed at once in the pass along the rows.
constexpr int32_t kPiece = 512;

}  // namespace

// Both passes are built for processors with wider vector instructions too (the same sums, in
// the same order).
VANTO_WITH_AVX2_CLONE void sumColumns(const uint8_t* gray, int32_t w, int32_t h, const int32_t* weights,
                                      int32_t radius, int32_t* pass) {
    for (int32_t y = 0; y < h; ++y) {
        int32_t* row = pass + static_cast<int64_t>(y) * w;
        const uint8_t* centre = gray + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) row[x] = weights[0] * centre[x];
        for (int32_t i = 1; i <= radius; ++i) {
            const uint8_t* up = gray + static_cast<int64_t>(std::max(y - i, 0)) * w;
            const uint8_t* down = gray + static_cast<int64_t>(std::min(y + i, h - 1)) * w;
            const int32_t weight = weights[i];
            for (int32_t x = 0; x < w; ++x) row[x] += weight * (up[x] + down[x]);
        }
    }
}

// The sum is a sum of integer products, so it does not depend on the order of its terms: the
// columns are summed first (into rowPass, in 32 bits: at most 255 S), then the rows, in
// doubles, which hold every partial sum (at most 255 S^2 < 2^53) exactly. Both inner loops run
// along a row, the edge clamping done outside them.
VANTO_WITH_AVX2_CLONE void smoothGray(const uint8_t* gray, int32_t w, int32_t h, double sigma, int32_t* rowPass,
                                      uint8_t* out) {
    int32_t weights[kMaxSmoothRadius + 1];
    const int32_t r = gaussianWeights(sigma, weights);
    int64_t sum = weights[0];
    for (int32_t i = 1; i <= r; ++i) sum += 2 * weights[i];
    sumColumns(gray, w, h, weights, r, rowPass);
    const double total = static_cast<double>(sum * sum);
    const double reciprocal = 1.0 / (2 * total);
    double wd[kMaxSmoothRadius + 1];
    for (int32_t i = 0; i <= r; ++i) wd[i] = weights[i];
    const int32_t innerStart = std::min(r, w), innerEnd = std::max(innerStart, w - r);
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* pass = rowPass + static_cast<int64_t>(y) * w;
        uint8_t* row = out + static_cast<int64_t>(y) * w;
        const auto clamped = [&](int32_t x) {
            double acc = wd[0] * pass[x];
            for (int32_t i = 1; i <= r; ++i) acc += wd[i] * (pass[std::max(x - i, 0)] + pass[std::min(x + i, w - 1)]);
            row[x] = roundedQuotient(acc, total, reciprocal);
        };
        for (int32_t x = 0; x < innerStart; ++x) clamped(x);
        // The middle of the row, a piece at a time, each tap over the whole piece.
        for (int32_t x0 = innerStart; x0 < innerEnd; x0 += kPiece) {
            const int32_t n = std::min(kPiece, innerEnd - x0);
            double acc[kPiece];
            const int32_t* centre = pass + x0;
            for (int32_t j = 0; j < n; ++j) acc[j] = wd[0] * centre[j];
            for (int32_t i = 1; i <= r; ++i) {
                const int32_t* left = centre - i;
                const int32_t* right = centre + i;
                const double weight = wd[i];
                for (int32_t j = 0; j < n; ++j) acc[j] += weight * (left[j] + right[j]);
            }
            for (int32_t j = 0; j < n; ++j) row[x0 + j] = roundedQuotient(acc[j], total, reciprocal);
        }
        for (int32_t x = innerEnd; x < w; ++x) clamped(x);
    }
}

}  // namespace vanto
