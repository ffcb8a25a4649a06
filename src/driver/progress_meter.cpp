#include "driver/progress_meter.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace vanto {

namespace {

// "42 s", "3 min 05 s", "2 h 07 min": seconds are noise on long runs.
void formatDuration(char* buffer, size_t size, int64_t seconds) {
    if (seconds < 60) {
        std::snprintf(buffer, size, "%lld s", static_cast<long long>(seconds));
    } else if (seconds < 3600) {
        std::snprintf(buffer, size, "%lld min %02lld s", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(buffer, size, "%lld h %02lld min", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60));
    }
}

}  // namespace

void ProgressMeter::start(bool enabled, int32_t frameCount, int64_t nowMs) {
    enabled_ = enabled;
    frameCount_ = frameCount;
    startMs_ = nowMs;
    lastLineMs_ = nowMs;
}

void ProgressMeter::frameDone(int32_t frame, int64_t nowMs, std::ostream& out) {
    if (!enabled_) return;
    const bool last = frame >= frameCount_;
    if (!last && nowMs - lastLineMs_ < kIntervalMs) return;
    lastLineMs_ = nowMs;
    const double seconds = static_cast<double>(nowMs - startMs_) / 1000.0;
    const double rate = seconds > 0 ? frame / seconds : 0.0;
    char left[32] = "-";
    if (rate > 0) formatDuration(left, sizeof left, static_cast<int64_t>((frameCount_ - frame) / rate + 0.5));
    char line[160];
    std::snprintf(line, sizeof line, "vanto: %d of %d frames done, %.1f frames/s, %s left\n", frame, frameCount_, rate,
                  left);
    out << line << std::flush;
}

bool progressWanted(bool showProgress, const std::ostream& errors) {
    return showProgress || (&errors == &std::cerr && isatty(STDERR_FILENO) == 1);
}

}  // namespace vanto
