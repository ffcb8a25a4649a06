#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vanto {

// How the samples of one decoded pixel become its source value.
enum class PixelKind {
    stored,  // one stored sample (gray or palette index); further samples are ignored
    luma,    // samples R, G, B (and an ignored alpha): 0.299 R + 0.587 G + 0.114 B
};

// How samples are stored in a decoded row.
enum class SampleType { u8, u16, f32 };

// The series-wide mapping of source values onto gray bytes: without a range only 8-bit
// values are accepted and pass as they are; with one, v becomes
// clamp(floor((v - low) * 255 / (high - low) + 1/2), 0, 255).
struct GrayMapping {
    bool hasRange = false;
    double low = 0;
    double high = 0;
    bool integerBounds = false;  // low and high are whole numbers within +-2^52
    int64_t lowInt = 0;
    int64_t highInt = 0;
    uint8_t nanGray = 0;  // what a NaN sample becomes
};

// Builds the mapping for -range low high (hasRange false: no range). nanGray: the gray that a
// NaN sample becomes (the background's side of the analysis).
GrayMapping makeGrayMapping(bool hasRange, double low, double high, uint8_t nanGray = 0);

// Why finite bounds low < high cannot scale samples onto 0 .. 255: high - low is not a finite
// number (the bounds lie too far apart) or is so small that 255 / (high - low) is not finite.
// Empty when they can.
std::string rangeSpanProblem(double low, double high);

// The log line naming the mapping, e.g. "Range : 0 - 65535 -> 0 - 255".
std::string mappingLine(const GrayMapping& mapping);

// Source values of n pixels into dst. plane[k] points at sample k of the first pixel;
// consecutive pixels lie step samples apart. Integer luma is rounded to the nearest whole
// source unit (halves away from zero) as for 8-bit frames; float luma is left unrounded.
void pixelValues(SampleType type, PixelKind kind, const uint8_t* const plane[3], int32_t step, float* dst,
                 int32_t n);

// Maps n source values onto gray bytes. integerSamples: the values are whole numbers, so
// integer bounds are applied in exact integer arithmetic. -inf gives 0, +inf 255, NaN
// mapping.nanGray. Returns the number of NaN values.
size_t mapValues(const GrayMapping& mapping, bool integerSamples, const float* src, uint8_t* dst, size_t n);

}  // namespace vanto
