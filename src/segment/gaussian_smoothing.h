#pragma once
#include <cstdint>

namespace vanto {

inline constexpr int32_t kMaxSmoothRadius = 30;  // -smooth allows sigma up to 10

// The integer Gaussian of -smooth: weights[i] = round(4096 exp(-i^2 / (2 sigma^2))) for
// i = 0..radius, radius = max(1, ceil(3 sigma)) (at most kMaxSmoothRadius). Returns radius.
int32_t gaussianWeights(double sigma, int32_t* weights);

// The pass along the columns of a symmetric integer filter: pass[y w + x] = the sum over
// |i| <= radius of weights[|i|] x gray[(y + i) w + x], rows beyond an edge taken as the edge
// row. The sums must fit 32 bits.
void sumColumns(const uint8_t* gray, int32_t w, int32_t h, const int32_t* weights, int32_t radius, int32_t* pass);

// out = gray smoothed by the Gaussian of sigma, pixels beyond an edge taken as the edge pixel;
// each output is the weighted sum divided by S^2 (S the sum of the 2 radius + 1 weights),
// halves rounded up: exactly the 2-D convolution with the product weights. rowPass (w x h
// entries) holds the pass along the columns between the two passes.
void smoothGray(const uint8_t* gray, int32_t w, int32_t h, double sigma, int32_t* rowPass, uint8_t* out);

}  // namespace vanto
