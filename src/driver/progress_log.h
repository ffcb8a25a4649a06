#pragma once
#include <ostream>
#include <string>

#include "driver/progress_meter.h"
#include "io/output_file.h"

namespace vanto {

// Progress lines go first to the console, then identically to the run log, each flushed at
// once so that the log is complete up to the last finished line. Log writes are checked:
// after the first failure the log takes nothing more and fault() says why. A quiet log keeps
// the per-frame lines off the console (the log still takes them).
class ProgressLog {
public:
    explicit ProgressLog(std::ostream& console) : console_(console) {}

    bool open(const std::string& path) { return log_.open(path); }
    // False when any log write or the close failed.
    bool close() { return log_.close(); }

    void setQuiet(bool quiet) { quiet_ = quiet; }
    // Console lines first wipe the progress meter's line, when both share a terminal.
    void wipeBeforeConsole(ProgressMeter* meter, std::ostream* meterOut) {
        meter_ = meter;
        meterOut_ = meterOut;
    }

    void line(const std::string& text) {
        console(text);
        logOnly(text);
    }
    // The lines of each frame: on the console unless quiet.
    void frameLine(const std::string& text) {
        frameConsole(text);
        logOnly(text);
    }
    void frameConsole(const std::string& text) {
        if (!quiet_) console(text);
    }
    void console(const std::string& text) {
        if (meter_) meter_->clearLine(*meterOut_);
        console_ << text << '\n' << std::flush;
    }
    void logOnly(const std::string& text) { log_ << text << '\n' << std::flush; }

    bool failed() const { return log_.failed(); }
    const OutputFault& fault() const { return log_.fault(); }

private:
    std::ostream& console_;
    TextOutputFile log_;
    bool quiet_ = false;
    ProgressMeter* meter_ = nullptr;
    std::ostream* meterOut_ = nullptr;
};

}  // namespace vanto
