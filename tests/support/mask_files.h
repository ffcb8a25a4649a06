#pragma once
// Reading back the 16-bit label images the -ctc export writes.
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vanto::testing {

// A 16-bit single-channel mask; empty when it cannot be read.
inline std::vector<uint16_t> readMask(const std::string& path, uint32_t& width, uint32_t& height) {
    std::vector<uint16_t> pixels;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return pixels;
    uint16_t bits = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits == 16 && samples == 1) {
        pixels.resize(static_cast<size_t>(width) * height);
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, pixels.data() + static_cast<size_t>(y) * width, y, 0) != 1) {
                pixels.clear();
                break;
            }
        }
    }
    TIFFClose(tif);
    return pixels;
}

}  // namespace vanto::testing
