#pragma once
#include <string>
#include <utility>

namespace vanto {

// What went wrong, for the run to decide what follows: an unreadable frame is analysed with
// the previous frame's pixels, a failed output or device ends the run with status 1.
enum class StatusCode {
    ok,
    undecodable,        // missing or not a regular file, not TIFF or PNG, broken, or beyond the decode cap
    unsupportedFormat,  // decodable, but a sample format that cannot be analysed (or needs a range)
    windowOutside,      // the window does not lie inside the image
    outputFailed,       // an output file could not be created, written or closed
    deviceFailed,       // the compute device failed; its results must not be used
};

// The one outcome every loader, writer, export and the compute device hands to the run:
// ok, or a code and one line saying why, ready for standard error, the log and the run record.
struct [[nodiscard]] Status {
    StatusCode code = StatusCode::ok;
    std::string detail;  // one line, for every code but ok

    bool ok() const { return code == StatusCode::ok; }
    static Status failure(StatusCode code, std::string detail) { return {code, std::move(detail)}; }
    static Status outputFailure(std::string detail) { return {StatusCode::outputFailed, std::move(detail)}; }
};

}  // namespace vanto
