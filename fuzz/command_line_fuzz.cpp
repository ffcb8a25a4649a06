// libFuzzer harness for the command line: the input is the argument words, separated by NUL
// bytes (the program's path first). Checks, on top of the sanitizers: a frame pattern that
// isFramePattern accepts takes exactly one int by the C library's own reading of it, and
// formats every frame number into the run's 512-byte path buffer; and the whole check before
// a run (options, -range, the output and -ctc paths, the window against a memory bound, the
// threads) accepts only configurations that a run can carry out.
#include <printf.h>
#include <tiffio.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/frame_pipeline.h"
#include "driver/frame_series.h"
#include "driver/run_checks.h"
#include "driver/run_limits.h"
#include "model/workspace.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& pattern) {
    std::fprintf(stderr, "command line fuzz: %s: \"%s\"\n", what, pattern.c_str());
    std::abort();
}


// A folder of the harness's own holding f1.tif, an 8 x 8 gray frame: the series of every check.
const std::string& harnessFolder() {
    static const std::string dir = [] {
        char name[] = "/tmp/vanto-fuzz-command-line-XXXXXX";
        if (!mkdtemp(name)) std::abort();
        const std::string path = std::string(name) + "/f1.tif";
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        if (!tif) std::abort();
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
        uint8_t row[8] = {10, 200, 10, 200, 10, 200, 10, 200};
        for (uint32_t y = 0; y < 8; ++y) TIFFWriteScanline(tif, row, y, 0);
        TIFFClose(tif);
        return std::string(name);
    }();
    static const bool removedAtExit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(harnessFolder(), ignored);
    }) == 0;
    (void)removedAtExit;
    return dir;
}

// What an accepted configuration must hold, stated apart from the option table: every number
// within what the run's arithmetic and buffers take.
const char* outOfRange(const vanto::RunConfig& c, const vanto::RunCheck& check, const vanto::MemoryBound& bound) {
    const bool frames = check.plan.frameCount >= 1;
    if (frames && (c.frameWidth < 1 || c.frameHeight < 1)) return "an empty window";
    if (frames && (int64_t{c.originX} + c.frameWidth > 8 || int64_t{c.originY} + c.frameHeight > 8))
        return "a window outside the 8 x 8 frame";
    if (check.plan.frameCount > 1) return "frames beyond the one that exists";
    if (int64_t{c.frameWidth} * c.frameHeight > vanto::Workspace::kMaxPixels) return "a window beyond the pixel limit";
    if (frames && (c.originX < 0 || c.originY < 0)) return "a negative window origin";  // checked when frame 1 is read
    if (c.firstFrame < 0 || c.channel < 0) return "a negative -first or -channel";
    if (check.plan.frameCount < 0 || int64_t{c.firstFrame} + check.plan.frameCount - 1 > INT32_MAX)
        return "frame numbers beyond 2^31 - 1";
    if (c.hasRange && !(std::isfinite(c.rangeLow) && std::isfinite(c.rangeHigh) && c.rangeLow < c.rangeHigh &&
                        std::isfinite(c.rangeHigh - c.rangeLow)))
        return "a -range that cannot scale";
    if (check.threads < 1 || check.threads > vanto::kMaxThreads) return "a thread count out of range";
    if (vanto::runMemoryBytes(c, check.threads) > bound.bytes) return "threads whose memory exceeds the bound";
    if (c.outputDir.empty() || c.outputDir.size() >= vanto::kPathBufferBytes) return "an output folder without paths";
    return nullptr;
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
    const vanto::ParsedCommandLine parsed = vanto::parseCommandLine(static_cast<int>(words.size()), argv.data());
    const vanto::RunConfig& config = parsed.config;

    // The whole check, on a series of one 8 x 8 frame the harness made, the -ctc folder moved
    // into the harness's folder (the check makes it when nothing else is refused).
    if (parsed.errors.empty()) {
        const std::string& dir = harnessFolder();
        vanto::RunConfig checked = config;
        checked.sourcePattern = dir + "/f%d.tif";
        if (!checked.ctcDir.empty()) checked.ctcDir = dir + "/ctc/" + checked.ctcDir;
        const vanto::MemoryBound bound{int64_t{4} << 30, "the fuzz bound"};
        vanto::FrameSeries series;
        const vanto::RunCheck check = vanto::checkRun(checked, bound, series, {}, {});
        if (check.refusals.empty()) {
            if (const char* what = outOfRange(checked, check, bound)) fail(what, words.back());
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir + "/ctc", ignored);
    }

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
