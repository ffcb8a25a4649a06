#pragma once
#include <string>

#include "io/output_file.h"
#include "io/status.h"

namespace vanto {

// Opens a table; the failure names the file and the cause when it cannot be created.
inline Status openChecked(TextOutputFile& out, const std::string& path, Creation creation = Creation::replace) {
    out.open(path, creation);
    return out.fault().status();
}

// Writes what is buffered and closes out. A table written at the end of a run is whole or
// absent: when any write to it failed, the file is removed and the failure says why.
inline Status closeWhole(TextOutputFile& out) {
    if (out.close()) return {};
    const Status failure = out.fault().status();
    out.discard();
    return failure;
}

}  // namespace vanto
