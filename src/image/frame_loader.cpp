#include "image/frame_loader.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vanto {

namespace {

// How the samples of one decoded pixel become the gray byte.
enum class PixelKind {
    stored,  // one stored sample (gray or palette index); a further alpha sample is ignored
    luma,    // samples R, G, B (and an ignored alpha): round(0.299 R + 0.587 G + 0.114 B)
};

LoadResult failure(LoadStatus status, std::string detail) { return {status, std::move(detail)}; }

uint8_t lumaOf(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint8_t>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
}

// Converts n pixels into dst. plane[k] points at sample k of the first pixel; consecutive pixels
// lie step bytes apart (the samples per pixel for interleaved data, 1 for separate planes).
void convertPixels(PixelKind kind, const uint8_t* const plane[3], int32_t step, uint8_t* dst, int32_t n) {
    if (kind == PixelKind::stored) {
        for (int32_t j = 0; j < n; ++j) dst[j] = plane[0][static_cast<size_t>(j) * step];
        return;
    }
    for (int32_t j = 0; j < n; ++j) {
        const size_t at = static_cast<size_t>(j) * step;
        dst[j] = lumaOf(plane[0][at], plane[1][at], plane[2][at]);
    }
}

// The window canvas.width x canvas.height at (originX, originY) must lie inside the image.
LoadResult checkWindow(const Canvas& canvas, int32_t originX, int32_t originY, int64_t imageWidth,
                       int64_t imageHeight) {
    const int64_t w = canvas.width;
    const int64_t h = canvas.height;
    if (w < 0 || h < 0 || canvas.gray.size() < static_cast<size_t>(w * h)) {
        return failure(LoadStatus::windowOutside, "the canvas holds no " + std::to_string(w) + " x " +
                                                      std::to_string(h) + " gray plane");
    }
    const std::string window = "window " + std::to_string(w) + " x " + std::to_string(h) + " at (" +
                               std::to_string(originX) + ", " + std::to_string(originY) + ")";
    const std::string image = std::to_string(imageWidth) + " x " + std::to_string(imageHeight) + " image";
    if (originX < 0 || originY < 0) {
        return failure(LoadStatus::windowOutside, window + " has a negative origin");
    }
    if (originX + w > imageWidth) {
        return failure(LoadStatus::windowOutside, window + " is wider than the " + image + " allows");
    }
    if (originY + h > imageHeight) {
        return failure(LoadStatus::windowOutside, window + " is taller than the " + image + " allows");
    }
    return {};
}

// ---- TIFF ----

int silentTiffHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* opts) const { TIFFOpenOptionsFree(opts); }
};

std::string photometricName(uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK: return "gray";
        case PHOTOMETRIC_PALETTE: return "palette";
        case PHOTOMETRIC_RGB: return "RGB";
        case PHOTOMETRIC_SEPARATED: return "separated (CMYK)";
        case PHOTOMETRIC_YCBCR: return "YCbCr";
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: return "Lab";
        case PHOTOMETRIC_MASK: return "transparency mask";
        default: return "photometric " + std::to_string(photometric);
    }
}

// Chooses how a TIFF pixel becomes gray; a non-empty result names why it cannot.
std::string classifyTiff(TIFF* tif, PixelKind& kind) {
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t photometric = 0;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        return "TIFF without a photometric interpretation is not supported";
    }
    const std::string name = photometricName(photometric);
    if (sampleFormat == SAMPLEFORMAT_IEEEFP || sampleFormat == SAMPLEFORMAT_COMPLEXIEEEFP) {
        return "floating-point " + name + " samples are not supported";
    }
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) {
        return "signed " + name + " samples are not supported";
    }
    if (bits != 8) return std::to_string(bits) + "-bit " + name + " samples are not supported";
    if (!TIFFIsCODECConfigured(compression)) {
        return "TIFF compression " + std::to_string(compression) + " is not supported";
    }
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            if (samples == 1 || samples == 2) {
                kind = PixelKind::stored;
                return {};
            }
            break;
        case PHOTOMETRIC_PALETTE:
            if (samples == 1) {
                kind = PixelKind::stored;
                return {};
            }
            break;
        case PHOTOMETRIC_RGB:
            if (samples == 3 || samples == 4) {
                kind = PixelKind::luma;
                return {};
            }
            break;
        default: return "8-bit " + name + " images are not supported";
    }
    return "8-bit " + name + " with " + std::to_string(samples) + " samples per pixel is not supported";
}

// Decoded blocks (strips or tiles) of the planes in use: plane k's block at block + k * blockSize.
struct TiffGeometry {
    int32_t samples;     // samples per pixel
    bool separate;       // one plane per sample
    int32_t planesUsed;  // planes read per block
    int32_t step;        // bytes from one pixel to the next inside a block row
};

void planePointers(const TiffGeometry& g, const uint8_t* rowStart, tmsize_t blockSize, int32_t pixel,
                   const uint8_t* plane[3]) {
    for (int32_t k = 0; k < 3; ++k) {
        plane[k] = g.separate ? rowStart + std::min(k, g.planesUsed - 1) * blockSize + pixel
                              : rowStart + static_cast<size_t>(pixel) * g.samples + std::min(k, g.samples - 1);
    }
}

bool readTiffStrips(TIFF* tif, const TiffGeometry& g, PixelKind kind, uint32_t imageHeight, int32_t originX,
                    int32_t originY, int32_t w, int32_t h, std::vector<uint8_t>& block, uint8_t* out) {
    uint32_t rowsPerStrip = imageHeight;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > imageHeight) rowsPerStrip = imageHeight;
    const tmsize_t stripSize = TIFFStripSize(tif);
    const tmsize_t rowSize = TIFFScanlineSize(tif);
    if (stripSize <= 0 || rowSize <= 0) return false;
    block.resize(static_cast<size_t>(stripSize) * g.planesUsed);
    const uint32_t windowEnd = static_cast<uint32_t>(originY) + static_cast<uint32_t>(h);
    for (uint32_t first = static_cast<uint32_t>(originY) / rowsPerStrip * rowsPerStrip; first < windowEnd;
         first += rowsPerStrip) {
        const uint32_t rowBegin = std::max(first, static_cast<uint32_t>(originY));
        const uint32_t rowEnd = std::min(first + rowsPerStrip, windowEnd);
        for (int32_t k = 0; k < g.planesUsed; ++k) {
            const tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, first, static_cast<uint16_t>(k)),
                                                      block.data() + k * stripSize, stripSize);
            if (got < static_cast<tmsize_t>(rowEnd - first) * rowSize) return false;
        }
        for (uint32_t row = rowBegin; row < rowEnd; ++row) {
            const uint8_t* plane[3];
            planePointers(g, block.data() + (row - first) * rowSize, stripSize, originX, plane);
            convertPixels(kind, plane, g.step, out + static_cast<size_t>(row - originY) * w, w);
        }
    }
    return true;
}

bool readTiffTiles(TIFF* tif, const TiffGeometry& g, PixelKind kind, int32_t originX, int32_t originY, int32_t w,
                   int32_t h, std::vector<uint8_t>& block, uint8_t* out) {
    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileSize = TIFFTileSize(tif);
    const tmsize_t rowSize = TIFFTileRowSize(tif);
    if (tileWidth == 0 || tileHeight == 0 || tileSize <= 0 || rowSize <= 0) return false;
    block.resize(static_cast<size_t>(tileSize) * g.planesUsed);
    const uint32_t xBegin = static_cast<uint32_t>(originX);
    const uint32_t yBegin = static_cast<uint32_t>(originY);
    const uint32_t xEnd = xBegin + static_cast<uint32_t>(w);
    const uint32_t yEnd = yBegin + static_cast<uint32_t>(h);
    for (uint32_t ty = yBegin / tileHeight * tileHeight; ty < yEnd; ty += tileHeight) {
        for (uint32_t tx = xBegin / tileWidth * tileWidth; tx < xEnd; tx += tileWidth) {
            for (int32_t k = 0; k < g.planesUsed; ++k) {
                const tmsize_t got = TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, static_cast<uint16_t>(k)),
                                                         block.data() + k * tileSize, tileSize);
                if (got != tileSize) return false;
            }
            const uint32_t colBegin = std::max(tx, xBegin);
            const uint32_t colEnd = std::min(tx + tileWidth, xEnd);
            for (uint32_t row = std::max(ty, yBegin); row < std::min(ty + tileHeight, yEnd); ++row) {
                const uint8_t* plane[3];
                planePointers(g, block.data() + (row - ty) * rowSize, tileSize, static_cast<int32_t>(colBegin - tx),
                              plane);
                convertPixels(kind, plane, g.step,
                              out + static_cast<size_t>(row - yBegin) * w + (colBegin - xBegin),
                              static_cast<int32_t>(colEnd - colBegin));
            }
        }
    }
    return true;
}

LoadResult loadTiff(const char* path, const Canvas& canvas, int32_t originX, int32_t originY,
                    std::vector<uint8_t>& window) {
    std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) return failure(LoadStatus::undecodable, "cannot decode the TIFF file " + std::string(path));
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), silentTiffHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), silentTiffHandler, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenExt(path, "r", opts.get()));
    if (!tif) return failure(LoadStatus::undecodable, "cannot decode the TIFF file " + std::string(path));

    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &imageWidth) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &imageHeight)) {
        return failure(LoadStatus::undecodable, "TIFF file without image size: " + std::string(path));
    }
    PixelKind kind = PixelKind::stored;
    if (std::string why = classifyTiff(tif.get(), kind); !why.empty()) {
        return failure(LoadStatus::unsupportedFormat, why);
    }
    if (LoadResult r = checkWindow(canvas, originX, originY, imageWidth, imageHeight); r.status != LoadStatus::ok) {
        return r;
    }

    uint16_t samples = 1;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TiffGeometry g{};
    g.samples = samples;
    g.separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    g.planesUsed = g.separate ? (kind == PixelKind::luma ? 3 : 1) : 1;
    g.step = g.separate ? 1 : samples;

    const int32_t w = canvas.width;
    const int32_t h = canvas.height;
    window.resize(static_cast<size_t>(w) * h);
    if (w == 0 || h == 0) return {};
    std::vector<uint8_t> block;
    const bool read = TIFFIsTiled(tif.get())
                          ? readTiffTiles(tif.get(), g, kind, originX, originY, w, h, block, window.data())
                          : readTiffStrips(tif.get(), g, kind, imageHeight, originX, originY, w, h, block,
                                           window.data());
    if (!read) return failure(LoadStatus::undecodable, "broken TIFF image data in " + std::string(path));
    return {};
}

// ---- PNG ----
// libpng reports errors by longjmp. The functions that set the jump target hold no objects with
// destructors, so the jump skips no C++ clean-up.

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void pngWarning(png_structp, png_const_charp) {}

struct PngHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngHandles() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool pngReadInfo(png_structp png, png_infop info, std::FILE* file, int signatureBytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, signatureBytes);
    png_read_info(png, info);
    return true;
}

bool pngReadRow(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool pngReadImage(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
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

LoadResult loadPng(std::FILE* file, int signatureBytes, const char* path, const Canvas& canvas, int32_t originX,
                   int32_t originY, std::vector<uint8_t>& window) {
    const LoadResult broken = failure(LoadStatus::undecodable, "cannot decode the PNG file " + std::string(path));
    PngHandles handles;
    handles.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!handles.png) return broken;
    handles.info = png_create_info_struct(handles.png);
    if (!handles.info || !pngReadInfo(handles.png, handles.info, file, signatureBytes)) return broken;

    const png_uint_32 imageWidth = png_get_image_width(handles.png, handles.info);
    const png_uint_32 imageHeight = png_get_image_height(handles.png, handles.info);
    const int bits = png_get_bit_depth(handles.png, handles.info);
    const int colourType = png_get_color_type(handles.png, handles.info);
    const int channels = png_get_channels(handles.png, handles.info);
    if (bits != 8) {
        return failure(LoadStatus::unsupportedFormat,
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
            return failure(LoadStatus::unsupportedFormat, pngColourName(colourType) + " PNG images are not supported");
    }
    if (LoadResult r = checkWindow(canvas, originX, originY, imageWidth, imageHeight); r.status != LoadStatus::ok) {
        return r;
    }

    const int32_t w = canvas.width;
    const int32_t h = canvas.height;
    window.resize(static_cast<size_t>(w) * h);
    if (w == 0 || h == 0) return {};
    const size_t rowBytes = png_get_rowbytes(handles.png, handles.info);
    const auto convertRow = [&](const uint8_t* row, int32_t i) {
        const uint8_t* plane[3] = {row + static_cast<size_t>(originX) * channels,
                                   row + static_cast<size_t>(originX) * channels + std::min(1, channels - 1),
                                   row + static_cast<size_t>(originX) * channels + std::min(2, channels - 1)};
        convertPixels(kind, plane, channels, window.data() + static_cast<size_t>(i) * w, w);
    };
    if (png_get_interlace_type(handles.png, handles.info) == PNG_INTERLACE_NONE) {
        // Rows arrive top first; rows below the window are never decoded.
        std::vector<uint8_t> row(rowBytes);
        for (int32_t r = 0; r < originY + h; ++r) {
            if (!pngReadRow(handles.png, row.data())) return broken;
            if (r >= originY) convertRow(row.data(), r - originY);
        }
        return {};
    }
    std::vector<uint8_t> image(rowBytes * imageHeight);
    std::vector<png_bytep> rows(imageHeight);
    for (png_uint_32 r = 0; r < imageHeight; ++r) rows[r] = image.data() + r * rowBytes;
    if (!pngReadImage(handles.png, rows.data())) return broken;
    for (int32_t i = 0; i < h; ++i) convertRow(rows[originY + i], i);
    return {};
}

}  // namespace

LoadResult loadFrame(Canvas& canvas, const char* path, int32_t originX, int32_t originY) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return failure(LoadStatus::undecodable, "cannot open " + std::string(path));
    uint8_t magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file.get());

    // Decoded into a window of its own, so a failure leaves the gray plane as it was.
    std::vector<uint8_t> window;
    LoadResult result;
    static constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool tiffLittle = got >= 4 && magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) &&
                            magic[3] == 0;
    const bool tiffBig = got >= 4 && magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                         (magic[3] == 42 || magic[3] == 43);
    if (tiffLittle || tiffBig) {
        file.reset();
        result = loadTiff(path, canvas, originX, originY, window);
    } else if (got == sizeof magic && std::memcmp(magic, kPngSignature, sizeof magic) == 0) {
        result = loadPng(file.get(), static_cast<int>(sizeof magic), path, canvas, originX, originY, window);
    } else {
        return failure(LoadStatus::undecodable, "neither a TIFF nor a PNG file: " + std::string(path));
    }
    if (result.status == LoadStatus::ok) std::copy(window.begin(), window.end(), canvas.gray.begin());
    return result;
}

}  // namespace vanto
