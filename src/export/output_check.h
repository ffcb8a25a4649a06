#pragma once
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace vanto {

// "cannot write "path": reason", with the system's reason when it left one.
inline std::string writeError(const std::string& path) {
    std::string why = "cannot write \"" + path + "\"";
    if (errno != 0) why += std::string(": ") + std::strerror(errno);
    return why;
}

// Flushes and closes out; false with error set when any write to it failed.
inline bool closeChecked(std::ofstream& out, const std::string& path, std::string& error) {
    if (!out.is_open()) return true;
    errno = 0;
    out.flush();
    const bool written = !out.fail();
    out.close();
    if (written && !out.fail()) return true;
    error = writeError(path);
    return false;
}

}  // namespace vanto
