#pragma once
#include <fstream>
#include <ostream>
#include <string>

namespace vanto {

// Progress lines go first to the console, then identically to the run log, each flushed at
// once so that the log is complete up to the last finished line.
class ProgressLog {
public:
    explicit ProgressLog(std::ostream& console) : console_(console) {}

    bool open(const std::string& path) {
        log_.open(path, std::ios::out | std::ios::trunc);
        return log_.is_open();
    }
    void close() { log_.close(); }

    void line(const std::string& text) {
        console(text);
        logOnly(text);
    }
    void console(const std::string& text) { console_ << text << '\n' << std::flush; }
    void logOnly(const std::string& text) { log_ << text << '\n' << std::flush; }

private:
    std::ostream& console_;
    std::ofstream log_;
};

}  // namespace vanto
