// Writes the seed corpus of the fuzz harnesses: usage fuzz_seeds OUTDIR, which then holds
// frame_loader/ (small TIFF and PNG files of every layout the loader meets, each behind a
// window prefix) and command_line/ (argument words separated by NUL bytes).
#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame_input.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 21;
constexpr uint32_t kHeight = 19;

struct Window {
    int16_t x, y;
    uint8_t w, h, dx, dy, page, range;
};

// Inside, at the corner, the whole image, and one pixel too far; pages and ranges vary.
constexpr Window kWindows[] = {{3, 2, 9, 11, 4, 5, 0, 0}, {0, 0, kWidth, kHeight, 7, 3, 1, 1},
                               {20, 18, 1, 1, 0, 0, 2, 3}, {13, 0, 9, 4, 1, 1, 0, 4}};

std::vector<uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Saves the file behind each window prefix and removes it.
void emit(const fs::path& dir, const std::string& name, const fs::path& image) {
    const std::vector<uint8_t> bytes = readAll(image);
    fs::remove(image);
    int k = 0;
    for (const Window& w : kWindows) {
        std::vector<uint8_t> input = vanto::fuzz::windowPrefix(w.x, w.y, w.w, w.h, w.dx, w.dy, w.page, w.range);
        input.insert(input.end(), bytes.begin(), bytes.end());
        std::ofstream(dir / (name + "_" + std::to_string(k++)), std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    }
}

uint8_t sample(uint32_t x, uint32_t y, uint32_t s) { return static_cast<uint8_t>(x * 7 + y * 13 + s * 71); }

// ---- PNG ----

struct PngSpec {
    const char* name;
    int depth;
    int colourType;
    bool interlaced;
};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

bool writePngBody(png_structp png, png_infop info, std::FILE* f, const PngSpec* s) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    png_set_IHDR(png, info, kWidth, kHeight, s->depth, s->colourType,
                 s->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s->colourType == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[256];
        for (int i = 0; i < 256; ++i) palette[i] = {static_cast<png_byte>(i), static_cast<png_byte>(255 - i), 9};
        png_set_PLTE(png, info, palette, 1 << s->depth);
    }
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<uint8_t> row(rowBytes);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (size_t i = 0; i < rowBytes; ++i) row[i] = sample(static_cast<uint32_t>(i), y, 0);
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    return true;
}

bool writePng(const fs::path& path, const PngSpec& s) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = writePngBody(png, info, f, &s);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return ok;
}

// Saves the file behind series prefixes (pages, -channel, -first and -range bounds vary) and
// removes it.
void emitSeries(const fs::path& dir, const std::string& name, const fs::path& image) {
    const std::vector<uint8_t> bytes = readAll(image);
    fs::remove(image);
    struct Series {
        int16_t x, y;
        uint8_t w, h, page, rangeMode;
        double low, high;
        uint8_t channel, first;
    };
    const Series all[] = {{3, 2, 9, 11, 0, 5, 0.0, 255.0, 2, 1},
                          {0, 0, kWidth, kHeight, 5, 1, 0, 0, 1, 3},
                          {1, 1, 4, 4, 4, 5, -3.5, 1e6, 0, 2},
                          {0, 0, 2, 2, 200, 5, 1e-300, 2e-300, 3, 255}};
    int k = 0;
    for (const Series& s : all) {
        std::vector<uint8_t> input =
            vanto::fuzz::seriesPrefix(s.x, s.y, s.w, s.h, s.page, s.rangeMode, s.low, s.high, s.channel, s.first);
        input.insert(input.end(), bytes.begin(), bytes.end());
        std::ofstream(dir / (name + "_series_" + std::to_string(k++)), std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    }
}

// ---- TIFF ----

struct TiffSpec {
    const char* name;
    const char* mode;  // "w" little-endian, "wb" big-endian, "w8" BigTIFF
    uint16_t bits = 8;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t rowsPerStrip = 0;  // 0: one strip
    uint32_t tile = 0;          // non-zero: square tiles
    bool separate = false;
    uint16_t pages = 1;  // a stack when more than one
    const char* description = nullptr;  // an ImageJ description, on the first page
};

bool writeTiffPage(TIFF* tif, const TiffSpec& s, uint16_t page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.sampleFormat);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if ((s.photometric == PHOTOMETRIC_MINISBLACK && s.samples == 2) || s.samples == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (s.description && page == 0) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, s.description);
    if (s.pages > 1) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, s.pages);
    }
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> red(1u << s.bits), green(1u << s.bits), blue(1u << s.bits, 0x8000);
        for (size_t i = 0; i < red.size(); ++i) {
            red[i] = static_cast<uint16_t>(i * 4099);
            green[i] = static_cast<uint16_t>(~red[i]);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const uint16_t planes = s.separate ? s.samples : 1;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tif)));
        for (uint16_t p = 0; p < planes; ++p) {
            for (uint32_t ty = 0; ty < kHeight; ty += s.tile) {
                for (uint32_t tx = 0; tx < kWidth; tx += s.tile) {
                    for (size_t i = 0; i < tile.size(); ++i) tile[i] = sample(tx + static_cast<uint32_t>(i), ty, p + page);
                    if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, p) < 0) return false;
                }
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : kHeight);
        std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
        for (uint16_t p = 0; p < planes; ++p) {
            for (uint32_t y = 0; y < kHeight; ++y) {
                for (size_t i = 0; i < row.size(); ++i) row[i] = sample(static_cast<uint32_t>(i), y, p + page);
                if (TIFFWriteScanline(tif, row.data(), y, p) != 1) return false;
            }
        }
    }
    return TIFFWriteDirectory(tif) == 1;
}

bool writeTiff(const fs::path& path, const TiffSpec& s) {
    TIFF* tif = TIFFOpen(path.c_str(), s.mode);
    if (!tif) return false;
    bool ok = true;
    for (uint16_t page = 0; page < s.pages && ok; ++page) ok = writeTiffPage(tif, s, page);
    TIFFClose(tif);
    return ok;
}

TiffSpec tiffSpec(const char* name) { return TiffSpec{name, "w"}; }

// ---- command line ----

const std::vector<std::vector<std::string>> kCommandLines = {
    {"vanto", "-source", "frames/f%04d.tif", "-count", "100", "-w", "640", "-h", "480", "-output", "out"},
    {"vanto", "-x", "10", "-y", "-5", "-w", " 32", "-h", "+24", "-size", "30", "-threshold", "50", "-id", "-image",
     "-voronoi", "-source", "a^03d.png", "-count", "2"},
    {"vanto", "-source", "%%d_%+08.3x_%%.png", "-count", "2147483647", "-output"},
    {"vanto", "-source", "f%#o.tif", "-source", "f%-5u.tif", "-count", "-1", "-count"},
    {"vanto", "-source", "%s%d", "-w", "-h", "9"},
    {"vanto", "-count", "99999999999", "-source", "%X%i", "-w", "2147483647", "-h", "2147483647"},
    {"/usr/local/bin/f%d.png"},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path loader = out / "frame_loader";
    const fs::path command = out / "command_line";
    fs::create_directories(loader);
    fs::create_directories(command);
    const fs::path scratch = out / "scratch.img";

    const PngSpec pngs[] = {
        {"png_gray8", 8, PNG_COLOR_TYPE_GRAY, false},        {"png_gray8_interlaced", 8, PNG_COLOR_TYPE_GRAY, true},
        {"png_palette8", 8, PNG_COLOR_TYPE_PALETTE, false},  {"png_palette4", 4, PNG_COLOR_TYPE_PALETTE, false},
        {"png_rgb8", 8, PNG_COLOR_TYPE_RGB, false},          {"png_rgba8_interlaced", 8, PNG_COLOR_TYPE_RGBA, true},
        {"png_grayalpha8", 8, PNG_COLOR_TYPE_GRAY_ALPHA, false}, {"png_gray16", 16, PNG_COLOR_TYPE_GRAY, false},
        {"png_rgb16_interlaced", 16, PNG_COLOR_TYPE_RGB, true}, {"png_gray1", 1, PNG_COLOR_TYPE_GRAY, false},
    };
    for (const PngSpec& s : pngs) {
        if (!writePng(scratch, s)) return 1;
        emit(loader, s.name, scratch);
    }

    std::vector<TiffSpec> tiffs;
    tiffs.push_back(tiffSpec("tif_gray8"));
    TiffSpec t = tiffSpec("tif_gray8_be_strips3");
    t.mode = "wb";
    t.rowsPerStrip = 3;
    tiffs.push_back(t);
    t = tiffSpec("tif_gray8_bigtiff_tiled");
    t.mode = "w8";
    t.tile = 16;
    tiffs.push_back(t);
    t = tiffSpec("tif_miniswhite8_lzw");
    t.photometric = PHOTOMETRIC_MINISWHITE;
    t.compression = COMPRESSION_LZW;
    t.rowsPerStrip = 5;
    tiffs.push_back(t);
    t = tiffSpec("tif_palette8_deflate");
    t.photometric = PHOTOMETRIC_PALETTE;
    t.compression = COMPRESSION_ADOBE_DEFLATE;
    tiffs.push_back(t);
    t = tiffSpec("tif_palette4_packbits");
    t.photometric = PHOTOMETRIC_PALETTE;
    t.bits = 4;
    t.compression = COMPRESSION_PACKBITS;
    tiffs.push_back(t);
    t = tiffSpec("tif_rgb8");
    t.photometric = PHOTOMETRIC_RGB;
    t.samples = 3;
    t.rowsPerStrip = 4;
    tiffs.push_back(t);
    t = tiffSpec("tif_rgb8_separate_tiled");
    t.photometric = PHOTOMETRIC_RGB;
    t.samples = 3;
    t.separate = true;
    t.tile = 16;
    tiffs.push_back(t);
    t = tiffSpec("tif_rgba8_separate");
    t.photometric = PHOTOMETRIC_RGB;
    t.samples = 4;
    t.separate = true;
    t.rowsPerStrip = 7;
    tiffs.push_back(t);
    t = tiffSpec("tif_grayalpha8");
    t.samples = 2;
    tiffs.push_back(t);
    t = tiffSpec("tif_gray16");
    t.bits = 16;
    t.rowsPerStrip = 2;
    tiffs.push_back(t);
    t = tiffSpec("tif_gray16_be_tiled");
    t.mode = "wb";
    t.bits = 16;
    t.tile = 16;
    tiffs.push_back(t);
    t = tiffSpec("tif_float32");
    t.bits = 32;
    t.sampleFormat = SAMPLEFORMAT_IEEEFP;
    tiffs.push_back(t);
    t = tiffSpec("tif_int8");
    t.sampleFormat = SAMPLEFORMAT_INT;
    tiffs.push_back(t);
    t = tiffSpec("tif_gray1");
    t.bits = 1;
    tiffs.push_back(t);
    t = tiffSpec("tif_stack3_gray8");
    t.pages = 3;
    t.rowsPerStrip = 8;
    tiffs.push_back(t);
    t = tiffSpec("tif_stack2_gray16_lzw");
    t.pages = 2;
    t.bits = 16;
    t.compression = COMPRESSION_LZW;
    tiffs.push_back(t);
    for (const TiffSpec& s : tiffs) {
        if (!writeTiff(scratch, s)) return 1;
        emit(loader, s.name, scratch);
    }

    // Read also as stacks: an ImageJ hyperstack of two channels and three time points, a plain
    // stack, and float RGB, under series prefixes.
    std::vector<TiffSpec> stacks;
    t = tiffSpec("tif_hyperstack_c2t3");
    t.pages = 6;
    t.rowsPerStrip = 5;
    t.description = "ImageJ=1.53t\nimages=6\nchannels=2\nframes=3\nhyperstack=true\nmode=composite\n";
    stacks.push_back(t);
    t = tiffSpec("tif_stack7_gray16");
    t.pages = 7;
    t.bits = 16;
    stacks.push_back(t);
    t = tiffSpec("tif_float_rgb");
    t.bits = 32;
    t.samples = 3;
    t.photometric = PHOTOMETRIC_RGB;
    t.sampleFormat = SAMPLEFORMAT_IEEEFP;
    t.pages = 2;
    stacks.push_back(t);
    for (const TiffSpec& s : stacks) {
        if (!writeTiff(scratch, s)) return 1;
        emitSeries(loader, s.name, scratch);
    }

    int k = 0;
    for (const std::vector<std::string>& words : kCommandLines) {
        std::string input;
        for (const std::string& w : words) input += w + '\0';
        input.pop_back();
        std::ofstream(command / ("words_" + std::to_string(k++)), std::ios::binary) << input;
    }
    return 0;
}
