#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/gray_mapping.h"
#include "io/status.h"

namespace vanto {

// What a frame holds, as far as its header was read; zero where unknown.
struct FrameFacts {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t bits = 0;
    bool floating = false;
    int32_t samplesPerPixel = 0;
    std::string colour;  // "gray", "palette", "RGB", ...
};

// Source-value statistics of a decoded window over its finite samples.
struct SampleStats {
    double min = 0;
    double max = 0;
    double low = 0;     // 0.1 percentile
    double median = 0;  // 50 percentile
    double high = 0;    // 99.9 percentile
    size_t nonFinite = 0;  // NaN and infinite samples, left out of the figures above
};

// How many of a decoded window's samples (NaN left out) a range clips to either end.
struct RangeClipping {
    size_t samples = 0;
    size_t atOrBelow = 0;  // at or below its low bound: gray 0
    size_t atOrAbove = 0;  // at or above its high bound: gray 255
};

struct TiffCursor;
struct TiffCursorFree {
    void operator()(TiffCursor* cursor) const;
};

// One reader per thread: it keeps its decoding buffers between frames and holds no state that
// another reader shares, so different frames may be read concurrently. A TIFF stack it read a
// page of stays open while later pages follow, so that the next page is reached in one step.
class FrameReader {
public:
    FrameReader();
    ~FrameReader();
    FrameReader(FrameReader&&) noexcept;
    FrameReader& operator=(FrameReader&&) noexcept;

    // Copies the width x height window at (originX, originY) of the frame at path into gray,
    // top row first, through mapping. page: the TIFF page (0 = first) of a stack. The format is
    // chosen by the file's first bytes (TIFF or PNG). 8-bit gray and palette images give their
    // stored values (palette indices, not colours); RGB and RGBA become
    // 0.299 R + 0.587 G + 0.114 B in source units (rounded for integer samples). 16-bit and
    // float samples need mapping.hasRange. On any failure gray is left as it was.
    Status load(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width, int32_t height,
                    const GrayMapping& mapping, uint8_t* gray);
    // As load, and on success also the window's source values (before mapping) into values.
    Status load(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width, int32_t height,
                const GrayMapping& mapping, uint8_t* gray, float* values);
    // The window's source values alone, whatever their type (no mapping is needed): 8-bit,
    // 16-bit and float samples as stored, RGB as its luma. On any failure values is left as it was.
    Status loadValues(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width,
                      int32_t height, float* values);

    // Facts of the last load (also after a failure) and the statistics of its window, which
    // are computed here from the decoded values (only after a decode that got that far, and
    // not after 8-bit samples went straight to gray).
    const FrameFacts& facts() const { return facts_; }
    bool statsOfLastWindow(SampleStats& stats) const;  // false when not decoded or no sample is finite
    bool decodedLastWindow() const { return decoded_; }
    RangeClipping clippingOfLastWindow(double low, double high) const;
    // NaN samples of the last load that succeeded (they became mapping.nanGray).
    size_t nanSamples() const { return nanSamples_; }

private:
    // Decodes the window into values_, filling facts_. When bytes is given and the file holds
    // 8-bit samples, a reader may write them straight into bytes instead (wroteBytes is then
    // true and values_ does not hold the window).
    Status decode(const char* path, int32_t page, int32_t originX, int32_t originY, int32_t width, int32_t height,
                  uint8_t* bytes, bool& wroteBytes);

    FrameFacts facts_;
    bool decoded_ = false;
    size_t nanSamples_ = 0;
    std::vector<float> values_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> rows_;
    std::unique_ptr<TiffCursor, TiffCursorFree> tiff_;
};

// The pages of a TIFF file read as a series of frames. ImageJ hyperstacks name their
// channels, z-slices and time points in the image description (pages in channel, slice, time
// order); other files are one channel of pages.
struct StackLayout {
    int32_t pages = 0;
    int32_t channels = 1;
    int32_t slices = 1;
    std::string chainBreak;  // empty when the chain of pages ends as a TIFF file should
};

// True when path is a regular file that starts like a TIFF file.
bool isTiffFile(const char* path);

// Counts the pages of the TIFF at path and reads its hyperstack fields; returns why it cannot
// (empty on success). A chain of pages that breaks off (a page that cannot be read, or a link
// back to an earlier page) counts the pages before the break, and chainBreak says why.
std::string describeTiffStack(const char* path, StackLayout& layout);

}  // namespace vanto
