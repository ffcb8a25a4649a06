// libFuzzer harness for the frame loader: a window prefix, then a TIFF or PNG file.
// Checks, on top of the sanitizers: a failed load gives a reason and leaves the gray plane as it
// was; a successful one only for a window inside the image; and a window inside a loaded window
// delivers the same pixels, whichever strips, tiles or rows it crosses.
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

#include "frame_input.h"
#include "image/frame_loader.h"

namespace {

using vanto::Canvas;
using vanto::LoadResult;
using vanto::LoadStatus;

[[noreturn]] void fail(const char* what, const LoadResult& r) {
    std::fprintf(stderr, "frame loader fuzz: %s (status %d, \"%s\")\n", what, static_cast<int>(r.status),
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

// The image size as the file declares it (the first TIFF directory, or the PNG header), read
// without the loader; false when it cannot be read.
struct Declared {
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t largestBlock = 0;  // the largest strip, tile or whole interlaced image, decoded
};

bool declared(const std::string& path, const uint8_t* data, size_t size, Declared& d) {
    if (isPng(data, size)) {
        // IHDR must come first: length, type, width, height, depth, colour type, ..., interlace.
        if (size < 33) return false;
        d.width = bigEndian32(data + 16);
        d.height = bigEndian32(data + 20);
        const uint64_t depth = data[24];
        const uint8_t colourType = data[25];
        const uint64_t channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
        const uint64_t rowBytes = (d.width * channels * depth + 7) / 8;
        d.largestBlock = data[28] != 0 ? rowBytes * d.height : rowBytes;
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
    const bool sized = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    d.width = w;
    d.height = h;
    const uint64_t block = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    d.largestBlock = std::max(block, static_cast<uint64_t>(TIFFScanlineSize64(tif)));
    TIFFClose(tif);
    return sized;
}

#if VANTO_FUZZ_SKIP_KNOWN_FAULTS
// Today's loader decodes a whole strip, tile or interlaced PNG at once, however large the file
// declares it: inputs beyond this are skipped until the loader bounds its memory. The saved
// reproducers are in fuzz/regressions/frame_loader.
constexpr uint64_t kKnownFaultBytes = 64ull << 20;
#endif

// Fills the plane with a position-dependent marker, so that any change to it shows.
void mark(Canvas& c) {
    for (size_t i = 0; i < c.gray.size(); ++i) c.gray[i] = static_cast<uint8_t>(i * 131 + 17);
}

bool marked(const Canvas& c) {
    for (size_t i = 0; i < c.gray.size(); ++i) {
        if (c.gray[i] != static_cast<uint8_t>(i * 131 + 17)) return false;
    }
    return true;
}

LoadResult checkedLoad(Canvas& c, const char* path, int32_t x, int32_t y, const Declared* d) {
    const size_t planeSize = c.gray.size();
    mark(c);
    const LoadResult r = vanto::loadFrame(c, path, x, y);
    if (c.gray.size() != planeSize) fail("the load resized the gray plane", r);
    if (r.status != LoadStatus::ok) {
        if (r.detail.empty()) fail("a failed load gives no reason", r);
        if (!marked(c)) fail("a failed load changed the gray plane", r);
        return r;
    }
    if (!d) fail("a file whose size cannot be read was loaded", r);
    if (x < 0 || y < 0 || static_cast<uint64_t>(x) + c.width > d->width ||
        static_cast<uint64_t>(y) + c.height > d->height) {
        fail("a window outside the image was loaded", r);
    }
    return r;
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

    Declared d;
    const bool known = declared(file.path, in.file, in.fileSize, d);
#if VANTO_FUZZ_SKIP_KNOWN_FAULTS
    if (known && d.largestBlock > kKnownFaultBytes) return -1;
#endif

    Canvas outer;
    outer.createCanvas(in.width, in.height);
    const LoadResult r = checkedLoad(outer, file.path.c_str(), in.originX, in.originY, known ? &d : nullptr);
    if (r.status != LoadStatus::ok || in.width == 0 || in.height == 0) return 0;

    // A window inside the loaded one, sharing its bottom-right corner.
    const int32_t dx = in.innerDx % in.width;
    const int32_t dy = in.innerDy % in.height;
    Canvas inner;
    inner.createCanvas(in.width - dx, in.height - dy);
    const LoadResult ri = checkedLoad(inner, file.path.c_str(), in.originX + dx, in.originY + dy, &d);
    if (ri.status != LoadStatus::ok) fail("a window inside a loaded window failed", ri);
    for (int32_t y = 0; y < inner.height; ++y) {
        for (int32_t x = 0; x < inner.width; ++x) {
            if (inner.gray[static_cast<size_t>(y) * inner.width + x] !=
                outer.gray[static_cast<size_t>(y + dy) * outer.width + x + dx]) {
                fail("a window inside a loaded window delivered other pixels", ri);
            }
        }
    }
    return 0;
}
