#pragma once
#include <cstdint>
#include <ostream>

namespace vanto {

// Frames done, frames per second and the time left, as lines on standard error for long runs
// and batch logs. Throttled so that a log grows by a few lines a second at most; the last
// frame is always reported. Writes nothing when not enabled, and never touches the console
// or the run log.
class ProgressMeter {
public:
    // At least this long between two lines, except for the last frame.
    static constexpr int64_t kIntervalMs = 500;

    // Arms the meter for frameCount frames, starting the clock at nowMs.
    void start(bool enabled, int32_t frameCount, int64_t nowMs);

    // Frame `frame` (1-based) is done at nowMs: writes one line to out when due.
    void frameDone(int32_t frame, int64_t nowMs, std::ostream& out);

private:
    bool enabled_ = false;
    int32_t frameCount_ = 0;
    int64_t startMs_ = 0;
    int64_t lastLineMs_ = 0;
};

// -progress, or standard error being a terminal when `errors` is std::cerr.
bool progressWanted(bool showProgress, const std::ostream& errors);

}  // namespace vanto
