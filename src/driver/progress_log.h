#pragma once
#include <ostream>
#include <string>

#include "io/output_file.h"

namespace vanto {

// Progress lines go first to the console, then identically to the run log, each flushed at
// once so that the log is complete up to the last finished line. Log writes are checked:
// after the first failure the log takes nothing more and fault() says why.
class ProgressLog {
public:
    explicit ProgressLog(std::ostream& console) : console_(console) {}

    bool open(const std::string& path) { return log_.open(path); }
    // False when any log write or the close failed.
    bool close() { return log_.close(); }

    void line(const std::string& text) {
        console(text);
        logOnly(text);
    }
    void console(const std::string& text) { console_ << text << '\n' << std::flush; }
    void logOnly(const std::string& text) { log_ << text << '\n' << std::flush; }

    bool failed() const { return log_.failed(); }
    const OutputFault& fault() const { return log_.fault(); }

private:
    std::ostream& console_;
    TextOutputFile log_;
};

}  // namespace vanto
