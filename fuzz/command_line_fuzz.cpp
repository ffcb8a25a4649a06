// libFuzzer harness for the command line: the input is the argument words, separated by NUL
// bytes (the program's path first). Checks, on top of the sanitizers: a frame pattern that
// isFramePattern accepts takes exactly one int by the C library's own reading of it, and
// formats every frame number into the run's 512-byte path buffer.
#include <printf.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run_limits.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& pattern) {
    std::fprintf(stderr, "command line fuzz: %s: \"%s\"\n", what, pattern.c_str());
    std::abort();
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    if (size > 0) {
        words.emplace_back();
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                words.emplace_back();
            } else {
                words.back().push_back(static_cast<char>(data[i]));
            }
        }
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const vanto::RunConfig config = vanto::parseCommandLine(static_cast<int>(words.size()), argv.data()).config;

    const std::string& pattern = config.sourcePattern;
    if (!vanto::isFramePattern(pattern)) return 0;
    int types[4] = {};
    const size_t count = parse_printf_format(pattern.c_str(), 4, types);
    if (count != 1 || types[0] != PA_INT) fail("an accepted pattern does not take exactly one int", pattern);
    // The run refuses, before formatting, a pattern whose paths cannot fit the path buffer.
    if (vanto::shortestFormattedLength(pattern, 512) > 511) return 0;
    char path[512];
    for (const int frame : {1, config.frameCount, 0, -1, INT_MAX, INT_MIN}) {
        if (std::snprintf(path, sizeof path, pattern.c_str(), frame) < 0) fail("an accepted pattern fails to format", pattern);
    }
    return 0;
}
