#pragma once
#include <cmath>
#include <cstdint>

#include "measure/motion_measures.h"
#include "measure/track_steps.h"
#include "model/records.h"

namespace vanto {

inline constexpr double kAbsentExponent = -100.0;

// Diffusion exponents over 15, 30 and 45 frames; kAbsentExponent (or not a number) when a
// window gives none. All absent when life is below 5.
struct DiffusionExponents {
    double d15 = kAbsentExponent, d30 = kAbsentExponent, d45 = kAbsentExponent;
};

// A value is written and averaged only when it is greater than kAbsentExponent (NaN fails).
inline bool exponentPresent(double v) { return v > kAbsentExponent; }

// The least-squares slope of ln(S_k / k) against ln k for the windows of the last 15, 30 and
// 45 frames, each from its own start point (the prev end of its oldest step), over the given
// track steps (see track_steps.h). Two passes: means first, then the centred sums.
template <class Steps>
DiffusionExponents measureDiffusionOver(const Steps& steps, int32_t life) {
    DiffusionExponents r;
    if (life < 5) return r;
    struct Window {
        int32_t lastBack;  // steps with back <= lastBack belong to the window
        bool started = false;
        int32_t x0 = 0, y0 = 0;
        int32_t m = 0, s = 0;
        double sumX = 0, sumY = 0;
        int32_t m2 = 0, s2 = 0;
        double sxx = 0, sxy = 0;
    };
    Window w[3] = {{14}, {29}, {44}};
    // S is a signed 32-bit running sum; it wraps as 32-bit arithmetic does.
    const auto addWrapped = [](int32_t a, int32_t b) { return static_cast<int32_t>(int64_t{a} + b); };
    steps([&](int32_t back, const int32_t* e) {
        for (Window& v : w) {
            if (back > v.lastBack) continue;
            if (!v.started) {
                v.started = true;
                v.x0 = e[LinkWord::prevX];
                v.y0 = e[LinkWord::prevY];
            }
            ++v.m;
            v.s = addWrapped(v.s, squaredDistance(v.x0, v.y0, e[LinkWord::curX], e[LinkWord::curY]));
            v.sumX += std::log(static_cast<double>(v.m));
            v.sumY += std::log(static_cast<double>(v.s) / static_cast<double>(v.m));
        }
    });
    steps([&](int32_t back, const int32_t* e) {
        for (Window& v : w) {
            if (v.m == 0 || back > v.lastBack) continue;
            ++v.m2;
            v.s2 = addWrapped(v.s2, squaredDistance(v.x0, v.y0, e[LinkWord::curX], e[LinkWord::curY]));
            const double dx = std::log(static_cast<double>(v.m2)) - v.sumX / v.m;
            const double dy = std::log(static_cast<double>(v.s2) / static_cast<double>(v.m2)) - v.sumY / v.m;
            v.sxx += dx * dx;
            v.sxy += dx * dy;
        }
    });
    double* out[3] = {&r.d15, &r.d30, &r.d45};
    for (int i = 0; i < 3; ++i) {
        if (w[i].m > 0) *out[i] = w[i].sxy / w[i].sxx;
    }
    return r;
}

}  // namespace vanto
