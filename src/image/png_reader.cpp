#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/frame_decode.h"
#include "image/png_inflate.h"

namespace vanto {

namespace {

// Declared sizes libpng accepts at all; the decode cap bounds what is held at once.
constexpr png_uint_32 kPngMaxSide = 1000000;
constexpr png_alloc_size_t kPngMaxChunkBytes = 8u << 20;
// Text, profile, palette-suggestion, Exif and calibration chunks, in libpng's list form.
constexpr png_byte kSkippedChunks[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0pCAL\0sCAL";
constexpr int kSkippedChunkCount = 8;
constexpr png_uint_32 kPngMaxChunkCount = 1000;

// libpng reports errors by longjmp. The functions that set the jump target hold no objects
// with destructors, so the jump skips no C++ clean-up.
struct PngMessages {
    char firstError[200] = {};
};

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (messages && messages->firstError[0] == '\0')
        std::snprintf(messages->firstError, sizeof messages->firstError, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

struct PngHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngHandles() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool pngReadInfo(png_structp png, png_infop info, std::FILE* file, int* passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kPngMaxSide, kPngMaxSide);
    png_set_chunk_cache_max(png, kPngMaxChunkCount);
    png_set_chunk_malloc_max(png, kPngMaxChunkBytes);
    // Chunks of any length that a frame never needs are skipped unread: libpng only warns
    // when one is longer than the chunk limit and would still allocate all of it.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, kSkippedChunkCount);
    png_read_info(png, info);
    if (png_get_bit_depth(png, info) == 16) {
        const uint16_t probe = 1;
        uint8_t first = 0;
        std::memcpy(&first, &probe, 1);
        if (first == 1) png_set_swap(png);  // samples in the host's order
    }
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

// Reads every row of each pass but the last (libpng counts them), then rows [0, lastRow) of the
// last; row r lands at windowRows + (r - firstRow) * rowBytes for firstRow <= r < lastRow and in
// spare otherwise. Interlaced passes combine into the rows given.
bool pngReadRows(png_structp png, int passes, png_uint_32 imageHeight, png_uint_32 firstRow, png_uint_32 lastRow,
                 uint8_t* windowRows, size_t rowBytes, uint8_t* spare) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass) {
        const png_uint_32 end = pass + 1 < passes ? imageHeight : lastRow;
        for (png_uint_32 r = 0; r < end; ++r) {
            png_read_row(png, r >= firstRow && r < lastRow ? windowRows + (r - firstRow) * rowBytes : spare, nullptr);
        }
    }
    return true;
}

std::string pngColourName(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY: return "gray";
        case PNG_COLOR_TYPE_PALETTE: return "palette";
        case PNG_COLOR_TYPE_RGB: return "RGB";
        case PNG_COLOR_TYPE_RGB_ALPHA: return "RGBA";
        case PNG_COLOR_TYPE_GRAY_ALPHA: return "gray+alpha";
        default: return "colour type " + std::to_string(colourType);
    }
}

Status brokenPng(const PngMessages& messages) {
    return loadFailure(StatusCode::undecodable, messages.firstError[0] ? std::string("broken PNG data: ") +
                                                                             messages.firstError
                                                                       : "broken PNG data");
}

// The fast way (inflateGrayPng) for the files it takes: true with the result in `result`, fd
// closed. False when it declines, with fd back where it was, for libpng to read.
bool readPngFast(int fd, const DecodeTarget& t, DecodeScratch& scratch, FrameFacts& facts, Status& result) {
    struct stat info {};
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0 || ::fstat(fd, &info) != 0 || info.st_size < start) return false;
    const uint64_t size = static_cast<uint64_t>(info.st_size - start);
    if (size > kMaxDecodedBytes) return false;
    scratch.block.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, scratch.block.data() + got, static_cast<size_t>(size) - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    InflatedPng image;
    if (!inflateGrayPng(scratch.block.data(), got, kMaxDecodedBytes, scratch.rows, image)) {
        if (::lseek(fd, start, SEEK_SET) == start) return false;
        ::close(fd);
        result = loadFailure(StatusCode::undecodable, "cannot read the PNG file");
        return true;
    }
    ::close(fd);
    facts.width = image.width;
    facts.height = image.height;
    facts.bits = image.bits;
    facts.samplesPerPixel = 1;
    facts.colour = pngColourName(PNG_COLOR_TYPE_GRAY);
    result = checkWindow(t, image.width, image.height);
    if (result.code != StatusCode::ok || t.width == 0 || t.height == 0) return true;
    if (image.bits == 8 && t.bytes && t.wroteBytes) {
        // 8-bit samples straight to bytes.
        for (int32_t i = 0; i < t.height; ++i) {
            std::memcpy(t.bytes + static_cast<size_t>(i) * t.width,
                        image.rows + static_cast<size_t>(t.originY + i) * image.rowStride + t.originX,
                        static_cast<size_t>(t.width));
        }
        *t.wroteBytes = true;
        return true;
    }
    const SampleType type = image.bits == 16 ? SampleType::u16 : SampleType::u8;
    const size_t sampleBytes = static_cast<size_t>(image.bits / 8);
    for (int32_t i = 0; i < t.height; ++i) {
        const uint8_t* start = image.rows + static_cast<size_t>(t.originY + i) * image.rowStride +
                               static_cast<size_t>(t.originX) * sampleBytes;
        const uint8_t* plane[3] = {start, start, start};
        pixelValues(type, PixelKind::stored, plane, 1, t.values + static_cast<size_t>(i) * t.width, t.width);
    }
    return true;
}

}  // namespace

Status readPngWindow(int fd, const DecodeTarget& t, DecodeScratch& scratch, FrameFacts& facts, PngPath path) {
    if (Status fast; path == PngPath::fastest && readPngFast(fd, t, scratch, facts, fast)) return fast;
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        return loadFailure(StatusCode::undecodable, "cannot read the PNG file");
    }
    PngMessages messages;
    PngHandles handles;
    handles.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, pngError, pngWarning);
    if (!handles.png) return brokenPng(messages);
    handles.info = png_create_info_struct(handles.png);
    int passes = 1;
    if (!handles.info || !pngReadInfo(handles.png, handles.info, file.get(), &passes)) return brokenPng(messages);

    const png_uint_32 imageWidth = png_get_image_width(handles.png, handles.info);
    const png_uint_32 imageHeight = png_get_image_height(handles.png, handles.info);
    const int bits = png_get_bit_depth(handles.png, handles.info);
    const int colourType = png_get_color_type(handles.png, handles.info);
    const int channels = png_get_channels(handles.png, handles.info);
    facts.width = imageWidth;
    facts.height = imageHeight;
    facts.bits = bits;
    facts.samplesPerPixel = channels;
    facts.colour = pngColourName(colourType);
    if (bits != 8 && !(bits == 16 && colourType != PNG_COLOR_TYPE_PALETTE)) {
        return loadFailure(StatusCode::unsupportedFormat,
                           std::to_string(bits) + "-bit " + pngColourName(colourType) + " samples are not supported");
    }
    PixelKind kind = PixelKind::stored;
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE:
        case PNG_COLOR_TYPE_GRAY_ALPHA: kind = PixelKind::stored; break;
        case PNG_COLOR_TYPE_RGB:
        case PNG_COLOR_TYPE_RGB_ALPHA: kind = PixelKind::luma; break;
        default:
            return loadFailure(StatusCode::unsupportedFormat,
                               pngColourName(colourType) + " PNG images are not supported");
    }
    if (Status r = checkWindow(t, imageWidth, imageHeight); r.code != StatusCode::ok) return r;
    if (t.width == 0 || t.height == 0) return {};

    const size_t rowBytes = png_get_rowbytes(handles.png, handles.info);
    // Rows below the window are never decoded; interlaced rows above it pass through one
    // spare row, since every pass must be read in full up to the window's last row.
    const uint64_t heldRows = passes > 1 ? static_cast<uint64_t>(t.height) + 1 : 2;
    if (rowBytes > kMaxDecodedBytes / heldRows) {
        return tooLarge(passes > 1 ? "the interlaced rows of the window" : "a row", rowBytes * heldRows);
    }
    const uint32_t lastRow = static_cast<uint32_t>(t.originY + t.height);
    scratch.rows.resize(rowBytes * heldRows);
    uint8_t* spare = scratch.rows.data();
    uint8_t* windowRows = spare + rowBytes;
    if (passes > 1) {
        if (!pngReadRows(handles.png, passes, imageHeight, static_cast<png_uint_32>(t.originY), lastRow, windowRows, rowBytes, spare))
            return brokenPng(messages);
    } else if (!pngReadRows(handles.png, 1, imageHeight, UINT32_MAX, static_cast<png_uint_32>(t.originY), nullptr, 0, spare)) {
        return brokenPng(messages);
    }
    const SampleType type = bits == 16 ? SampleType::u16 : SampleType::u8;
    const size_t sampleBytes = bits / 8;
    for (int32_t i = 0; i < t.height; ++i) {
        const uint8_t* row = windowRows + static_cast<size_t>(i) * rowBytes;
        if (passes == 1) {
            // One window row at a time, top first.
            if (!pngReadRows(handles.png, 1, imageHeight, 0, 1, windowRows, rowBytes, spare)) return brokenPng(messages);
            row = windowRows;
        }
        const uint8_t* start = row + static_cast<size_t>(t.originX) * channels * sampleBytes;
        const uint8_t* plane[3] = {start, start + std::min(1, channels - 1) * sampleBytes,
                                   start + std::min(2, channels - 1) * sampleBytes};
        pixelValues(type, kind, plane, channels, t.values + static_cast<size_t>(i) * t.width, t.width);
    }
    return {};
}

}  // namespace vanto
