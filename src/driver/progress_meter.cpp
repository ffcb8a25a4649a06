#include "driver/progress_meter.h"

#include <unistd.h>

#include <algorithm>
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

constexpr char kBlanks[] =
    "                                                                                "
    "                                                                                ";

}  // namespace

void ProgressMeter::start(bool enabled, int32_t frameCount, int64_t nowMs, bool inPlace) {
    enabled_ = enabled;
    inPlace_ = inPlace;
    shown_ = false;
    length_ = 0;
    shownLength_ = 0;
    frameCount_ = frameCount;
    startMs_ = nowMs;
    lastLineMs_ = nowMs;
}

void ProgressMeter::frameDone(int32_t frame, int64_t nowMs, std::ostream& out) {
    if (!enabled_) return;
    const bool last = frame >= frameCount_;
    if (!last && nowMs - lastLineMs_ < kIntervalMs) {
        if (inPlace_ && !shown_ && length_ > 0) show(out);
        return;
    }
    lastLineMs_ = nowMs;
    const double seconds = static_cast<double>(nowMs - startMs_) / 1000.0;
    const double rate = seconds > 0 ? frame / seconds : 0.0;
    char left[32] = "-";
    if (rate > 0) formatDuration(left, sizeof left, static_cast<int64_t>((frameCount_ - frame) / rate + 0.5));
    const int n = std::snprintf(line_, sizeof line_, "vanto: %d of %d frames done, %.1f frames/s, %s left", frame,
                                frameCount_, rate, left);
    length_ = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof line_ - 1);
    if (!inPlace_) {
        out << line_ << '\n' << std::flush;
        return;
    }
    show(out);
    if (last) endLine(out);
}

void ProgressMeter::show(std::ostream& out) {
    // The line before may have been longer: blanks wipe what it leaves.
    out << '\r' << line_;
    if (shown_ && length_ < shownLength_) out.write(kBlanks, static_cast<std::streamsize>(shownLength_ - length_));
    out << std::flush;
    shown_ = true;
    shownLength_ = std::max(shownLength_, length_);
}

void ProgressMeter::clearLine(std::ostream& out) {
    if (!shown_) return;
    out << '\r';
    out.write(kBlanks, static_cast<std::streamsize>(std::min(shownLength_, sizeof kBlanks - 1)));
    out << '\r' << std::flush;
    shown_ = false;
    shownLength_ = 0;
}

void ProgressMeter::endLine(std::ostream& out) {
    if (!shown_) return;
    out << '\n' << std::flush;
    shown_ = false;
    shownLength_ = 0;
}

bool progressWanted(bool showProgress, const std::ostream& errors) {
    return showProgress || errorsOnTerminal(errors);
}

bool errorsOnTerminal(const std::ostream& errors) { return &errors == &std::cerr && isatty(STDERR_FILENO) == 1; }

bool consoleOnTerminal(const std::ostream& console) { return &console == &std::cout && isatty(STDOUT_FILENO) == 1; }

}  // namespace vanto
