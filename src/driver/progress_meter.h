#pragma once
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace vanto {

// Frames done, frames per second and the time left, as lines on standard error for long runs
// and batch logs. Throttled so that a log grows by a few lines a second at most; the last
// frame is always reported. Writes nothing when not enabled, and never touches the console
// or the run log. On a terminal it keeps to one line, rewritten in place (carriage return),
// that other output clears or ends first.
class ProgressMeter {
public:
    // At least this long between two lines, except for the last frame.
    static constexpr int64_t kIntervalMs = 500;

    // Arms the meter for frameCount frames, starting the clock at nowMs; inPlace: one line
    // rewritten in place instead of a line each time.
    void start(bool enabled, int32_t frameCount, int64_t nowMs, bool inPlace = false);

    // Frame `frame` (1-based) is done at nowMs: writes one line to out when due. In place, the
    // line is also drawn again when something cleared it, and the last frame's line is ended.
    void frameDone(int32_t frame, int64_t nowMs, std::ostream& out);

    // In place: the line shown is wiped (before console lines on the same terminal), or
    // ended so that it stays (before a message on standard error). Nothing otherwise.
    void clearLine(std::ostream& out);
    void endLine(std::ostream& out);

private:
    void show(std::ostream& out);
    bool enabled_ = false;
    bool inPlace_ = false;
    bool shown_ = false;  // in place: the line is on the terminal and the cursor after it
    int32_t frameCount_ = 0;
    int64_t startMs_ = 0;
    int64_t lastLineMs_ = 0;
    char line_[160] = {};
    size_t length_ = 0;       // of line_
    size_t shownLength_ = 0;  // characters on the terminal's line while shown
};

// -progress, or standard error being a terminal when `errors` is std::cerr.
bool progressWanted(bool showProgress, const std::ostream& errors);

// Whether `stream` is std::cerr (std::cout) on a terminal.
bool errorsOnTerminal(const std::ostream& errors);
bool consoleOnTerminal(const std::ostream& console);

}  // namespace vanto
