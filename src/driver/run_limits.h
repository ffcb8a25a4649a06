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

// The drawing canvases of a run: the gray plane and colour raster, with the bitmap file image
// when a bitmap is drawn, and a second canvas with its file image when both bitmaps are drawn
// (they are drawn at the same time).
int64_t canvasBytes(const RunConfig& config);

// Host working memory of a run on `threads` threads: every workspace block, the canvases
// (canvasBytes), the compute device's planes, and for the threads the frames in flight, each
// segmenting thread's scratch and each reader's decode buffers (its window of source values
// and a block up to the decoding cap).
// INT64_MAX for a window of more than 2^31 - 1 pixels or a sum beyond 64 bits.
int64_t runMemoryBytes(const RunConfig& config, int32_t threads);

// Why the window cannot be had: more than 2^31 - 1 pixels, bitmaps (when drawn) beyond the
// 32-bit sizes of a BMP file, or more working memory than bound allows even on one thread.
// Empty when it fits. Nothing is reserved and nothing overflows.
std::string windowRefusal(const RunConfig& config, const MemoryBound& bound);

// The threads a run that fits on one thread (windowRefusal empty) gets: `wanted`, the thread
// count of the options. When that many do not fit in bound, an explicit -threads is refused
// naming the most that fit; the default (one per core) is lowered to the most that fit, with
// a warning.
struct ThreadPlan {
    int32_t threads = 1;
    std::string refusal;
    std::string warning;
};
ThreadPlan planThreads(const RunConfig& config, const MemoryBound& bound, int32_t wanted);

// The fewest characters that pattern can format to with any one integer: its literal
// characters ("%%" one) and, for each conversion, its field width or precision, whichever
// is larger. Counts stop at cap, so that a width of 999999999 is read without overflow and
// a path too long for the path buffer is known before the pattern is ever formatted.
int64_t shortestFormattedLength(const std::string& pattern, int64_t cap);

}  // namespace vanto
