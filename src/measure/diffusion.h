#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

inline constexpr double kAbsentExponent = -100.0;

// Diffusion exponents over 15, 30 and 45 frames; kAbsentExponent (or not a number) when a
// window gives none. All absent when life is below 5.
struct DiffusionExponents {
    double d15 = kAbsentExponent, d30 = kAbsentExponent, d45 = kAbsentExponent;
};

DiffusionExponents measureDiffusion(const Workspace& ws, int32_t frame, int32_t cellId, int32_t life);

// A value is written and averaged only when it is greater than kAbsentExponent (NaN fails).
inline bool exponentPresent(double v) { return v > kAbsentExponent; }

}  // namespace vanto
