#pragma once
#include <cstdint>
#include <string>

#include "model/run_config.h"

namespace vanto {

// The most memory this process can have: the smallest of the machine's physical memory, the
// address-space and data-size limits (ulimit -v, -d) and the memory limit of its control
// group, with words naming which one it is.
struct MemoryBound {
    int64_t bytes = INT64_MAX;
    std::string source;
};
MemoryBound memoryBound();

// Host working memory of a run: every workspace block, the canvas's gray plane and colour
// raster, and the bitmap file image when a bitmap is drawn. INT64_MAX for a window of more
// than 2^31 - 1 pixels.
int64_t runMemoryBytes(const RunConfig& config);

// Why the window cannot be had: more than 2^31 - 1 pixels, bitmaps (when drawn) beyond the
// 32-bit sizes of a BMP file, or more working memory than bound allows. Empty when it fits.
// Nothing is reserved and nothing overflows.
std::string windowRefusal(const RunConfig& config, const MemoryBound& bound);

// The fewest characters that pattern can format to with any one integer: its literal
// characters ("%%" one) and, for each conversion, its field width or precision, whichever
// is larger. Counts stop at cap, so that a width of 999999999 is read without overflow and
// a path too long for the path buffer is known before the pattern is ever formatted.
int64_t shortestFormattedLength(const std::string& pattern, int64_t cap);

}  // namespace vanto
