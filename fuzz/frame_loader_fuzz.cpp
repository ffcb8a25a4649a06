// libFuzzer harness for the frame reader: a window prefix (with page and range), then a TIFF or
// PNG file.
// Checks, on top of the sanitizers: a failed load gives a reason and leaves the gray plane as it
// was; a successful one only for a window inside the image; and a window inside a loaded window
// delivers the same pixels, whichever strips, tiles or rows it crosses. A series prefix also
// reads the file as a run does: any -range bounds the command line accepts, and the file as a
// stack (its ImageJ description, -channel and -first against its pages), whose frames either
// load or fail with a reason.
#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/frame_series.h"
#include "driver/option_table.h"
#include "frame_input.h"
#include "image/frame_loader.h"

namespace {

using vanto::Status;
using vanto::StatusCode;

[[noreturn]] void fail(const char* what, const Status& r) {
    std::fprintf(stderr, "frame loader fuzz: %s (status %d, \"%s\")\n", what, static_cast<int>(r.code),
                 r.detail.c_str());
    std::abort();
}

// The frame file lives in an anonymous memory file, opened by the loader through its /proc path.
struct MemoryFile {
    int fd = -1;
    std::string path;

    bool write(const uint8_t* data, size_t size) {
        if (fd < 0) {
            fd = memfd_create("vanto_fuzz_frame", 0);
            if (fd < 0) return false;
            path = "/proc/self/fd/" + std::to_string(fd);
        }
        if (ftruncate(fd, 0) != 0) return false;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
};

int silentTiff(TIFF*, void*, const char*, const char*, va_list) { return 1; }

uint32_t bigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

bool isPng(const uint8_t* data, size_t size) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::equal(kSignature, kSignature + 8, data);
}

// The image size as the file declares it (the TIFF page, or the PNG header), read without the
// loader; false when it cannot be read.
struct Declared {
    uint64_t width = 0;
    uint64_t height = 0;
};

bool declared(const std::string& path, const uint8_t* data, size_t size, int32_t page, Declared& d) {
    if (isPng(data, size)) {
        // IHDR must come first: length, type, then width and height.
        if (size < 33) return false;
        d.width = bigEndian32(data + 16);
        d.height = bigEndian32(data + 20);
        return true;
    }
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, silentTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, silentTiff, nullptr);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", opts);
    TIFFOpenOptionsFree(opts);
    if (!tif) return false;
    uint32_t w = 0;
    uint32_t h = 0;
    const bool sized = TIFFSetDirectory(tif, static_cast<tdir_t>(page)) && TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) &&
                       TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    d.width = w;
    d.height = h;
    TIFFClose(tif);
    return sized;
}

// Fills the plane with a position-dependent marker, so that any change to it shows.
void mark(std::vector<uint8_t>& gray) {
    for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(i * 131 + 17);
}

bool marked(const std::vector<uint8_t>& gray) {
    for (size_t i = 0; i < gray.size(); ++i) {
        if (gray[i] != static_cast<uint8_t>(i * 131 + 17)) return false;
    }
    return true;
}

// One reader for every input, as a run keeps one from frame to frame.
Status checkedLoad(vanto::FrameReader& reader, const char* path, const vanto::fuzz::FrameInput& in, int32_t x,
                       int32_t y, int32_t w, int32_t h, const vanto::GrayMapping& mapping, const Declared* d,
                       std::vector<uint8_t>& gray) {
    gray.assign(static_cast<size_t>(w) * h, 0);
    mark(gray);
    const Status r = reader.load(path, in.page, x, y, w, h, mapping, gray.data());
    if (r.code != StatusCode::ok) {
        if (r.detail.empty()) fail("a failed load gives no reason", r);
        if (!marked(gray)) fail("a failed load changed the gray plane", r);
        return r;
    }
    if (!d) fail("a file whose size cannot be read was loaded", r);
    if (x < 0 || y < 0 || static_cast<uint64_t>(x) + w > d->width || static_cast<uint64_t>(y) + h > d->height) {
        fail("a window outside the image was loaded", r);
    }
    return r;
}

// Whether the command line takes -range LO HI (written exactly), as a run would be given it.
bool rangeAccepted(const vanto::fuzz::Range& range) {
    if (!range.has) return true;
    char low[40], high[40];
    std::snprintf(low, sizeof low, "%.17g", range.low);
    std::snprintf(high, sizeof high, "%.17g", range.high);
    char* argv[] = {const_cast<char*>("vanto"), const_cast<char*>("-range"), low, high, nullptr};
    const vanto::ParsedCommandLine parsed = vanto::parseCommandLine(4, argv);
    return parsed.errors.empty() && vanto::optionRefusals(parsed.config).empty();
}

// The file read as a stack, as a run reads it: the plan, frame 1's check, then frames 1, 2 and
// the last of the plan.
void readAsSeries(const std::string& path, const vanto::fuzz::FrameInput& in) {
    vanto::RunConfig config;
    config.sourcePattern = path;
    config.frameWidth = in.width;
    config.frameHeight = in.height;
    config.originX = in.originX;
    config.originY = in.originY;
    config.hasRange = in.range.has;
    config.rangeLow = in.range.low;
    config.rangeHigh = in.range.high;
    config.channel = in.channel;
    config.firstFrame = in.first;
    if (!vanto::optionRefusals(config).empty() || in.width < 1 || in.height < 1) return;
    vanto::FrameSeries series;
    const vanto::SeriesPlan plan = series.resolve(config);
    if (!plan.refusal.empty() || plan.frameCount < 1) return;
    if (!series.checkFirstFrame(config).empty()) return;
    vanto::FrameReader reader;
    std::vector<uint8_t> gray(static_cast<size_t>(in.width) * in.height);
    for (const int32_t j : {1, 2, plan.frameCount}) {
        if (j > plan.frameCount) continue;
        const Status r = series.load(reader, j, gray.data());
        if (r.code != StatusCode::ok && r.detail.empty()) fail("a frame of an accepted stack failed without a reason", r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vanto::fuzz::FrameInput in;
    if (!vanto::fuzz::splitFrameInput(data, size, in)) return -1;
    static MemoryFile file;
    if (!file.write(in.file, in.fileSize)) std::abort();
    static vanto::FrameReader reader;
    static std::vector<uint8_t> outer;
    static std::vector<uint8_t> inner;
    if (!rangeAccepted(in.range)) return 0;
    const vanto::GrayMapping mapping = vanto::makeGrayMapping(in.range.has, in.range.low, in.range.high);
    if (in.series) readAsSeries(file.path, in);

    Declared d;
    const bool known = declared(file.path, in.file, in.fileSize, in.page, d);
    const Status r = checkedLoad(reader, file.path.c_str(), in, in.originX, in.originY, in.width, in.height,
                                     mapping, known ? &d : nullptr, outer);
    if (r.code != StatusCode::ok || in.width == 0 || in.height == 0) return 0;

    // A window inside the loaded one, sharing its bottom-right corner.
    const int32_t dx = in.innerDx % in.width;
    const int32_t dy = in.innerDy % in.height;
    const int32_t iw = in.width - dx;
    const int32_t ih = in.height - dy;
    const Status ri =
        checkedLoad(reader, file.path.c_str(), in, in.originX + dx, in.originY + dy, iw, ih, mapping, &d, inner);
    if (ri.code != StatusCode::ok) fail("a window inside a loaded window failed", ri);
    for (int32_t y = 0; y < ih; ++y) {
        for (int32_t x = 0; x < iw; ++x) {
            if (inner[static_cast<size_t>(y) * iw + x] != outer[static_cast<size_t>(y + dy) * in.width + x + dx]) {
                fail("a window inside a loaded window delivered other pixels", ri);
            }
        }
    }
    return 0;
}
