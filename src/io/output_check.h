#pragma once
#include <string>

#include "io/output_file.h"

namespace vanto {

// Opens a table of the exports; false with error set to the one-line cause when it cannot.
inline bool openChecked(TextOutputFile& out, const std::string& path, std::string& error) {
    if (out.open(path)) return true;
    error = out.fault().describe();
    return false;
}

// Writes what is buffered and closes out, cutting a failed file back to its last whole line;
// false with error set when any write to it failed. A file that is not open passes.
inline bool closeChecked(TextOutputFile& out, std::string& error) {
    if (out.close()) return true;
    error = out.fault().describe();
    return false;
}

}  // namespace vanto
