#include "image/gray_mapping.h"

#include <cmath>
#include <cstring>
#include <sstream>

namespace vanto {

namespace {

constexpr double kLargestExactInteger = 4503599627370496.0;  // 2^52

template <typename T>
T sampleAt(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void valuesOf(PixelKind kind, const uint8_t* const plane[3], int32_t step, float* dst, int32_t n) {
    const size_t stride = static_cast<size_t>(step) * sizeof(T);
    if (kind == PixelKind::stored) {
        for (int32_t j = 0; j < n; ++j) dst[j] = static_cast<float>(sampleAt<T>(plane[0] + j * stride));
        return;
    }
    for (int32_t j = 0; j < n; ++j) {
        const size_t at = j * stride;
        const double luma = 0.299 * sampleAt<T>(plane[0] + at) + 0.587 * sampleAt<T>(plane[1] + at) +
                            0.114 * sampleAt<T>(plane[2] + at);
        if constexpr (std::is_integral_v<T>) {
            dst[j] = static_cast<float>(std::lround(luma));
        } else {
            dst[j] = static_cast<float>(luma);
        }
    }
}

uint8_t clampByte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// floor(a / b) for b > 0.
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

std::string number(double v) {
    std::ostringstream s;
    s.precision(10);
    s << v;
    return s.str();
}

}  // namespace

GrayMapping makeGrayMapping(bool hasRange, double low, double high, uint8_t nanGray) {
    GrayMapping m;
    m.nanGray = nanGray;
    m.hasRange = hasRange;
    m.low = low;
    m.high = high;
    m.integerBounds = hasRange && std::floor(low) == low && std::floor(high) == high &&
                      std::fabs(low) <= kLargestExactInteger && std::fabs(high) <= kLargestExactInteger;
    if (m.integerBounds) {
        m.lowInt = static_cast<int64_t>(low);
        m.highInt = static_cast<int64_t>(high);
    }
    return m;
}

std::string rangeSpanProblem(double low, double high) {
    const double span = high - low;
    if (!std::isfinite(span)) return "HI - LO is not a finite number: give bounds nearer each other";
    if (!(span > 0) || !std::isfinite(255.0 / span))
        return "HI - LO is too small to scale onto 0 .. 255: give bounds further apart";
    return {};
}

std::string mappingLine(const GrayMapping& mapping) {
    return "Range : " + number(mapping.low) + " - " + number(mapping.high) + " -> 0 - 255";
}

void pixelValues(SampleType type, PixelKind kind, const uint8_t* const plane[3], int32_t step, float* dst,
                 int32_t n) {
    switch (type) {
        case SampleType::u8: valuesOf<uint8_t>(kind, plane, step, dst, n); break;
        case SampleType::u16: valuesOf<uint16_t>(kind, plane, step, dst, n); break;
        case SampleType::f32: valuesOf<float>(kind, plane, step, dst, n); break;
    }
}

size_t mapValues(const GrayMapping& mapping, bool integerSamples, const float* src, uint8_t* dst, size_t n) {
    if (!mapping.hasRange) {
        for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(src[i]);
        return 0;
    }
    if (integerSamples && mapping.integerBounds) {
        // round((v - lo) * 255 / span) with halves up is floor((2 (v - lo) 255 + span) / (2 span));
        // source values stay below 2^24 and the bounds within 2^52, so clamp the difference first.
        const int64_t span = mapping.highInt - mapping.lowInt;
        for (size_t i = 0; i < n; ++i) {
            const int64_t v = static_cast<int64_t>(src[i]);
            const int64_t diff = v - mapping.lowInt;
            if (diff <= 0) {
                dst[i] = 0;
            } else if (diff >= span) {
                dst[i] = 255;
            } else {
                dst[i] = clampByte(floorDiv(2 * diff * 255 + span, 2 * span));
            }
        }
        return 0;
    }
    const double scale = 255.0 / (mapping.high - mapping.low);
    size_t nans = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = src[i];
        if (std::isnan(v)) {
            dst[i] = mapping.nanGray;
            ++nans;
            continue;
        }
        const double scaled = std::floor((v - mapping.low) * scale + 0.5);
        // A NaN here (a range the checks would refuse) takes the NaN sample's side too.
        dst[i] = scaled <= 0 ? 0 : scaled >= 255 ? 255 : scaled == scaled ? static_cast<uint8_t>(scaled) : mapping.nanGray;
    }
    return nans;
}

}  // namespace vanto
