#pragma once
// What the TIFF and PNG readers share: the decode target, the facts they report and the caps.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/frame_loader.h"
#include "image/gray_mapping.h"

namespace vanto {

// No strip, tile or set of interlaced rows decoded at once may be larger than this, whatever a
// file declares: a frame beyond it is unreadable rather than a reason to exhaust memory.
constexpr uint64_t kMaxDecodedBytes = 256ull << 20;
constexpr const char* kMaxDecodedText = "256 MiB";

// The window to decode; values receives width x height source values, top row first. When
// bytes is given, a reader that has 8-bit stored samples at hand may copy them there instead
// (width x height bytes, top row first) and set *wroteBytes; values are then not written.
struct DecodeTarget {
    int32_t originX = 0;
    int32_t originY = 0;
    int32_t width = 0;
    int32_t height = 0;
    float* values = nullptr;
    uint8_t* bytes = nullptr;
    bool* wroteBytes = nullptr;
};

// Buffers a reader reuses from frame to frame.
struct DecodeScratch {
    std::vector<uint8_t>& block;
    std::vector<uint8_t>& rows;
};

Status loadFailure(StatusCode code, std::string detail);

// The window must lie inside an image of imageWidth x imageHeight.
Status checkWindow(const DecodeTarget& target, int64_t imageWidth, int64_t imageHeight);

// "a strip of N bytes" etc. beyond kMaxDecodedBytes.
Status tooLarge(const std::string& what, uint64_t bytes);

// A TIFF file a reader keeps open between frames, at the page it read last, so that the pages
// of a stack are reached by stepping on from there instead of walking from page 0 each time.
// (TiffCursor and TiffCursorFree are declared in frame_loader.h.)
using TiffCursorHandle = std::unique_ptr<TiffCursor, TiffCursorFree>;

// Decodes the window of TIFF directory page (0 = the first) of the file open on fd (taken over
// and closed). Fills facts as soon as the header is read. When cursor holds the same file at an
// earlier page, fd is closed and the cursor steps on to page; otherwise the file is opened anew
// from fd and kept in cursor while a later page can follow. A failure empties cursor.
Status readTiffWindow(int fd, const char* path, int32_t page, const DecodeTarget& target, DecodeScratch& scratch,
                          FrameFacts& facts, TiffCursorHandle& cursor);

// Which way readPngWindow may take: the fast one for the plain gray files it takes (see
// inflateGrayPng) and libpng for the others, or libpng for every file (the tests compare).
enum class PngPath { fastest, libpngOnly };

// Decodes the window of the PNG file open on fd (taken over and closed), its signature read.
Status readPngWindow(int fd, const DecodeTarget& target, DecodeScratch& scratch, FrameFacts& facts,
                     PngPath path = PngPath::fastest);

}  // namespace vanto
