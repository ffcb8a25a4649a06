#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/output_file.h"

namespace vanto {

// An image: the gray frame (row 0 at the top) and a colour raster, 3 bytes a
// pixel in the order blue, green, red, rows stored bottom-up as a BMP file holds them.
// Coordinates are x to the right and y downward from the top-left pixel.
class Canvas {
public:
    // Stores the size, sets every gray byte to 0 and reserves the raster, and with bitmapFile
    // the file image of writeBmp too. False (the canvas left empty) when memory cannot be had.
    bool createCanvas(int32_t w, int32_t h, bool bitmapFile = false);
    // Bytes createCanvas asks for.
    static int64_t bytesFor(int32_t w, int32_t h, bool bitmapFile);
    void destroyCanvas();

    // Paints the gray frame into the raster.
    void renderGray();
    void setPixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
    // 1,001 samples from (x0, y0) to (x1, y1), each distinct pixel blended once with an
    // opacity running linearly from alphaStart to alphaEnd.
    void drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g, uint8_t b,
                  double alphaStart, double alphaEnd);
    // Black 3 x 5 digits; the last digit's left column at x, clipped pixel by pixel.
    void drawNumber(int32_t x, int32_t y, int32_t value);
    // Uncompressed 24-bit BMP, put together in a block kept for the next call and written
    // in one checked call. A failure for an empty canvas or a file that cannot be written
    // (naming the file and the cause); then no partial file stays.
    Status writeBmp(const char* path) const;

    uint8_t* rgbAt(int32_t x, int32_t y) { return &rgb[3 * ((static_cast<size_t>(height) - 1 - y) * width + x)]; }
    const uint8_t* rgbAt(int32_t x, int32_t y) const {
        return &rgb[3 * ((static_cast<size_t>(height) - 1 - y) * width + x)];
    }

    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> gray;
    std::vector<uint8_t> rgb;

private:
    mutable std::vector<uint8_t> bmpFile_;  // the file image of writeBmp, sized once
};

}  // namespace vanto
