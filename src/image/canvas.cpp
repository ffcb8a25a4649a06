#include "image/canvas.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace vanto {

namespace {

// Rows top to bottom, bit 2 = left column.
constexpr uint8_t kGlyphs[10][5] = {
    {7, 5, 5, 5, 7},  // 0
    {2, 2, 2, 2, 2},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 7, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {4, 4, 7, 5, 7},  // 6
    {7, 1, 1, 1, 1},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 1},  // 9
};

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}

constexpr uint32_t kBmpHeaderBytes = 54;

}  // namespace

int64_t Canvas::bytesFor(int32_t w, int32_t h, bool bitmapFile) {
    const int64_t pixels = w > 0 && h > 0 ? int64_t{w} * h : 0;
    const int64_t file = bitmapFile && pixels > 0 ? kBmpHeaderBytes + (3 * int64_t{w} + 3) / 4 * 4 * h : 0;
    return 4 * pixels + file;
}

bool Canvas::createCanvas(int32_t w, int32_t h, bool bitmapFile) {
    width = w;
    height = h;
    const size_t pixels = w > 0 && h > 0 ? static_cast<size_t>(w) * static_cast<size_t>(h) : 0;
    try {
        gray.assign(pixels, 0);
        rgb.resize(3 * pixels);
        if (bitmapFile) bmpFile_.reserve(static_cast<size_t>(bytesFor(w, h, true) - 4 * static_cast<int64_t>(pixels)));
    } catch (const std::bad_alloc&) {
        destroyCanvas();
    } catch (const std::length_error&) {
        destroyCanvas();
    }
    if (gray.size() == pixels) return true;
    width = 0;
    height = 0;
    return false;
}

void Canvas::destroyCanvas() {
    gray = {};
    rgb = {};
    bmpFile_ = {};
}

void Canvas::renderGray() {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = &gray[static_cast<size_t>(y) * width];
        uint8_t* dst = rgbAt(0, y);
        for (int32_t x = 0; x < width; ++x) {
            dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
        }
    }
}

void Canvas::setPixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = rgbAt(x, y);
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

namespace {

constexpr int kLineSamples = 1001;

// The fractions t = k / 1000 of a line's samples and 1 - t, worked out once, so that a line
// spends its samples on the multiplications alone; the same doubles as computing them there.
struct LineFractions {
    double t[kLineSamples];
    double rest[kLineSamples];
    LineFractions() {
        for (int k = 0; k < kLineSamples; ++k) {
            t[k] = k / 1000.0;
            rest[k] = 1 - t[k];
        }
    }
};
const LineFractions kLineFractions;

}  // namespace

void Canvas::drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g, uint8_t b,
                      double alphaStart, double alphaEnd) {
    // The samples' pixels first, in a loop the compiler runs several samples at a time; then
    // each pixel that differs from the sample before it is blended, in order.
    const double* t = kLineFractions.t;
    const double* rest = kLineFractions.rest;
    int32_t xs[kLineSamples];
    int32_t ys[kLineSamples];
    const double fromX = x0, fromY = y0, toX = x1, toY = y1;
    for (int k = 0; k < kLineSamples; ++k) {
        xs[k] = static_cast<int32_t>(toX * t[k] + fromX * rest[k]);
        ys[k] = static_cast<int32_t>(toY * t[k] + fromY * rest[k]);
    }
    int32_t lastX = -1;
    int32_t lastY = -1;
    for (int k = 0; k < kLineSamples; ++k) {
        const int32_t x = xs[k], y = ys[k];
        if (x == lastX && y == lastY) continue;
        const double a = rest[k] * alphaStart + t[k] * alphaEnd;
        uint8_t* p = rgbAt(x, y);
        p[0] = static_cast<uint8_t>(static_cast<int>(p[0] * (1 - a) + b * a));
        p[1] = static_cast<uint8_t>(static_cast<int>(p[1] * (1 - a) + g * a));
        p[2] = static_cast<uint8_t>(static_cast<int>(p[2] * (1 - a) + r * a));
        lastX = x;
        lastY = y;
    }
}

void Canvas::drawNumber(int32_t x, int32_t y, int32_t value) {
    for (int32_t left = x; value > 0; value /= 10, left -= 4) {
        const uint8_t* glyph = kGlyphs[value % 10];
        for (int row = 0; row < 5; ++row) {
            for (int col = 0; col < 3; ++col) {
                if (!(glyph[row] & (4 >> col))) continue;
                const int32_t px = left + col;
                const int32_t py = y + row;
                if (px < 0 || px >= width || py < 0 || py >= height) continue;
                setPixel(px, py, 0, 0, 0);
            }
        }
    }
}

Status Canvas::writeBmp(const char* path) const {
    if (width <= 0 || height <= 0)
        return Status::outputFailure("cannot write \"" + std::string(path) + "\": the picture is empty");
    const uint32_t rowBytes = 3 * static_cast<uint32_t>(width);
    const uint32_t stride = (rowBytes + 3) / 4 * 4;
    const uint32_t imageSize = stride * static_cast<uint32_t>(height);
    // The whole file is put together first and written in one call; the block is reused.
    bmpFile_.resize(kBmpHeaderBytes + static_cast<size_t>(imageSize));
    uint8_t* header = bmpFile_.data();
    std::fill_n(header, kBmpHeaderBytes, 0);
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, kBmpHeaderBytes + imageSize);
    putLe32(header + 10, kBmpHeaderBytes);
    putLe32(header + 14, 40);
    putLe32(header + 18, static_cast<uint32_t>(width));
    putLe32(header + 22, static_cast<uint32_t>(height));
    putLe16(header + 26, 1);
    putLe16(header + 28, 24);
    putLe32(header + 34, imageSize);
    // Stored rows are already bottom-up, the order a BMP file holds them.
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* out = header + kBmpHeaderBytes + static_cast<size_t>(row) * stride;
        std::copy_n(&rgb[static_cast<size_t>(row) * rowBytes], rowBytes, out);
        std::fill(out + rowBytes, out + stride, uint8_t{0});
    }
    return writeWholeFile(path, bmpFile_.data(), bmpFile_.size());
}

}  // namespace vanto
