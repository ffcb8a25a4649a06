#include "driver/run_limits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "image/canvas.h"
#include "image/frame_decode.h"
#include "model/frame_in_flight.h"
#include "model/segment_scratch.h"
#include "model/workspace.h"

namespace vanto {

namespace {

constexpr int64_t kBmpHeaderBytes = 54;
constexpr int64_t kMiB = 1 << 20;

// a + b x c, or INT64_MAX when that would not fit (all three at least 0).
int64_t cappedSum(int64_t a, int64_t b, int64_t c) {
    int64_t product = 0;
    int64_t sum = 0;
    if (__builtin_mul_overflow(b, c, &product) || __builtin_add_overflow(a, product, &sum)) return INT64_MAX;
    return sum;
}

std::string mebibytes(int64_t bytes) { return std::to_string(bytes / kMiB + (bytes % kMiB != 0)); }

void lower(MemoryBound& bound, int64_t bytes, const char* source) {
    if (bytes > 0 && bytes < bound.bytes) bound = {bytes, source};
}

void lowerByLimit(MemoryBound& bound, int resource, const char* source) {
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
    lower(bound, static_cast<int64_t>(std::min<rlim_t>(limit.rlim_cur, INT64_MAX)), source);
}

// cgroup v2: memory.max of the process's group and of every group above it.
void lowerByControlGroup(MemoryBound& bound) {
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    std::string group;
    while (std::getline(groups, line)) {
        if (line.rfind("0::", 0) == 0) group = line.substr(3);
    }
    if (group.empty() || group[0] != '/') return;
    for (;;) {
        std::ifstream limit("/sys/fs/cgroup" + group + "/memory.max");
        std::string value;  // a byte count, or "max"
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        if (limit >> value && !value.empty() && value.size() < 19 && std::all_of(value.begin(), value.end(), digit))
            lower(bound, std::stoll(value), "the memory limit of its control group");
        if (group == "/") break;
        group = group.substr(0, std::max<size_t>(group.rfind('/'), 1));
    }
}

}  // namespace

MemoryBound memoryBound() {
    MemoryBound bound;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0 && pages < INT64_MAX / pageSize)
        lower(bound, int64_t{pages} * pageSize, "the machine's physical memory");
    lowerByLimit(bound, RLIMIT_AS, "the address-space limit (ulimit -v)");
    lowerByLimit(bound, RLIMIT_DATA, "the data-size limit (ulimit -d)");
    lowerByControlGroup(bound);
    return bound;
}

int64_t canvasBytes(const RunConfig& config) {
    const int32_t w = std::max(config.frameWidth, 0);
    const int32_t h = std::max(config.frameHeight, 0);
    const bool both = config.drawCalculation && config.drawVoronoi;
    return Canvas::bytesFor(w, h, config.drawCalculation || config.drawVoronoi) +
           (both ? Canvas::bytesFor(w, h, true) : 0);
}

int64_t runMemoryBytes(const RunConfig& config, int32_t threads) {
    const int64_t workspace = Workspace::plannedBytes(config.frameWidth, config.frameHeight);
    if (workspace == INT64_MAX) return INT64_MAX;
    const int64_t w = std::max(config.frameWidth, 0);
    const int64_t h = std::max(config.frameHeight, 0);
    const int64_t pixels = w * h;
    int64_t bytes = workspace + canvasBytes(config);
    // The compute device's four planes of 32-bit values: host memory on a processor's OpenCL.
    bytes += 16 * pixels;
    threads = std::max(threads, 1);
    // As FramePipeline::reserve: one frame for one thread, else one per worker, one ready and
    // one the main thread holds; a scratch per thread, the main thread's included.
    const int64_t frames = threads == 1 ? 1 : int64_t{threads} + 1;
    const int64_t scratches = threads;
    int64_t scratch = SegmentScratch::bytesFor(pixels);
    if (usesCellOptions(config)) scratch += SegmentScratch::extensionBytesFor(pixels);
    if (config.splitDepth > 0 || config.splitGray > 0) scratch += SegmentScratch::splittingBytesFor(config.frameWidth, config.frameHeight);
    // Every thread reads frames, the main thread too: its window of source values and a
    // decoded block of at most the cap.
    const int64_t decode = 4 * pixels + static_cast<int64_t>(kMaxDecodedBytes);
    bytes = cappedSum(bytes, frames, FrameInFlight::bytesFor(pixels));
    bytes = cappedSum(bytes, scratches, scratch);
    return cappedSum(bytes, threads, decode);
}

std::string windowRefusal(const RunConfig& config, const MemoryBound& bound) {
    const std::string size = std::to_string(config.frameWidth) + " x " + std::to_string(config.frameHeight);
    if (Workspace::plannedBytes(config.frameWidth, config.frameHeight) == INT64_MAX)
        return "the window " + size + " has more than " + std::to_string(Workspace::kMaxPixels) +
               " pixels: give a smaller -w or -h";
    const int64_t w = std::max(config.frameWidth, 0);
    const int64_t h = std::max(config.frameHeight, 0);
    if ((config.drawCalculation || config.drawVoronoi) && kBmpHeaderBytes + (3 * w + 3) / 4 * 4 * h > UINT32_MAX)
        return "bitmaps of the window " + size + " would exceed the 4 GiB a BMP file can hold: leave out -image "
               "and -voronoi, or give a smaller -w or -h";
    if (const int64_t bytes = runMemoryBytes(config, 1); bytes > bound.bytes) {
        return "the window " + size + " needs " + mebibytes(bytes) + " MiB of working memory, more than the " +
               std::to_string(bound.bytes / kMiB) + " MiB of " + bound.source + ": give a smaller -w or -h";
    }
    return {};
}

ThreadPlan planThreads(const RunConfig& config, const MemoryBound& bound, int32_t wanted) {
    ThreadPlan plan;
    plan.threads = std::max(wanted, 1);
    if (runMemoryBytes(config, plan.threads) <= bound.bytes) return plan;
    // The bytes grow with the threads: the most that fit, by bisection over [1, wanted).
    int32_t fit = 1;
    for (int32_t above = plan.threads; above - fit > 1;) {
        const int32_t middle = fit + (above - fit) / 2;
        (runMemoryBytes(config, middle) <= bound.bytes ? fit : above) = middle;
    }
    const std::string need = mebibytes(runMemoryBytes(config, plan.threads)) + " MiB of working memory, more than the " +
                             std::to_string(bound.bytes / kMiB) + " MiB of " + bound.source;
    if (config.threads >= 1) {
        plan.refusal = "-threads " + std::to_string(config.threads) + " needs " + need + ": give -threads " +
                       std::to_string(fit) + " or fewer (the most that fit)";
    } else {
        plan.warning = "one thread per core (" + std::to_string(plan.threads) + ") needs " + need + "; the run uses " +
                       std::to_string(fit) + (fit == 1 ? " thread" : " threads");
    }
    plan.threads = fit;
    return plan;
}

int64_t shortestFormattedLength(const std::string& pattern, int64_t cap) {
    const auto digits = [&](size_t& i) {
        int64_t value = 0;
        for (; i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9'; ++i)
            value = std::min(cap, value * 10 + (pattern[i] - '0'));
        return value;
    };
    int64_t length = 0;
    for (size_t i = 0; i < pattern.size() && length < cap; ++i) {
        if (pattern[i] != '%' || (i + 1 < pattern.size() && pattern[i + 1] == '%')) {
            i += pattern[i] == '%';
            ++length;
            continue;
        }
        ++i;
        while (i < pattern.size() && std::strchr("-+ #0", pattern[i])) ++i;
        int64_t field = digits(i);
        if (i < pattern.size() && pattern[i] == '.') field = std::max(field, digits(++i));
        length += std::max<int64_t>(field, 1);  // a conversion writes at least one character
    }
    return std::min(length, cap);
}

}  // namespace vanto
