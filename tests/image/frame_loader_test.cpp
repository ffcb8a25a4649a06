#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/frame_loader.h"
#include "load_frame.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;

// ---- test image writers (independent of the loader) ----

struct PngFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 8;
    int colourType = PNG_COLOR_TYPE_GRAY;
    bool interlaced = false;
    std::vector<png_color> palette = {};
};

[[noreturn]] void testPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Holds no objects with destructors: libpng may longjmp out of it.
bool writePngBody(png_structp png, png_infop info, std::FILE* file, const PngFormat* format, const uint8_t* data,
                  size_t rowBytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, format->width, format->height, format->bitDepth, format->colourType,
                 format->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!format->palette.empty()) {
        png_set_PLTE(png, info, format->palette.data(), static_cast<int>(format->palette.size()));
    }
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < format->height; ++y) png_write_row(png, data + y * rowBytes);
    }
    png_write_end(png, nullptr);
    return true;
}

// data: the stored rows top first, samples big-endian as PNG holds them.
void writePng(const fs::path& path, const PngFormat& format, const std::vector<uint8_t>& data) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, testPngError, nullptr);
    png_infop info = png_create_info_struct(png);
    const size_t rowBytes = data.size() / format.height;
    const bool ok = writePngBody(png, info, file, &format, data.data(), rowBytes);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    ASSERT_TRUE(ok);
}

struct TiffSpec {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 8;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t rowsPerStrip = 0;  // 0: one strip
    uint32_t tileSize = 0;      // non-zero: square tiles of this size
    bool separate = false;      // data is then plane after plane
    bool extraAlpha = false;
};

// data: interleaved samples top row first, or plane after plane when separate.
void writeTiff(const fs::path& path, const TiffSpec& s, const std::vector<uint8_t>& data) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.sampleFormat);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (s.extraAlpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        // Not a gray ramp: red rises, green falls, blue constant.
        std::vector<uint16_t> red(256), green(256), blue(256, 0x8000);
        for (int i = 0; i < 256; ++i) {
            red[i] = static_cast<uint16_t>(i * 257);
            green[i] = static_cast<uint16_t>((255 - i) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const size_t bytesPerSample = s.bits / 8;
    const size_t planes = s.separate ? s.samples : 1;
    const size_t pixelBytes = bytesPerSample * (s.separate ? 1 : s.samples);
    const size_t planeBytes = pixelBytes * s.width * s.height;
    if (s.tileSize) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tileSize);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tileSize);
        std::vector<uint8_t> tile(s.tileSize * s.tileSize * pixelBytes);
        for (size_t p = 0; p < planes; ++p) {
            for (uint32_t ty = 0; ty < s.height; ty += s.tileSize) {
                for (uint32_t tx = 0; tx < s.width; tx += s.tileSize) {
                    std::fill(tile.begin(), tile.end(), 0xEE);
                    for (uint32_t r = 0; r < s.tileSize && ty + r < s.height; ++r) {
                        for (uint32_t c = 0; c < s.tileSize && tx + c < s.width; ++c) {
                            for (size_t b = 0; b < pixelBytes; ++b) {
                                tile[(r * s.tileSize + c) * pixelBytes + b] =
                                    data[p * planeBytes + ((ty + r) * s.width + tx + c) * pixelBytes + b];
                            }
                        }
                    }
                    ASSERT_GT(TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<uint16_t>(p)), 0);
                }
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : s.height);
        std::vector<uint8_t> row(pixelBytes * s.width);
        for (size_t p = 0; p < planes; ++p) {
            for (uint32_t y = 0; y < s.height; ++y) {
                std::copy_n(data.begin() + p * planeBytes + y * row.size(), row.size(), row.begin());
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, static_cast<uint16_t>(p)), 1);
            }
        }
    }
    TIFFClose(tif);
}

// Image value of pixel (x, y) in the pattern images.
uint8_t pattern(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 3 + y * 11 + 5); }

std::vector<uint8_t> patternBytes(uint32_t w, uint32_t h) {
    std::vector<uint8_t> v(w * h);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) v[y * w + x] = pattern(x, y);
    }
    return v;
}

class FrameLoader : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("vanto_loader_" + std::to_string(getpid()) + "_" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string file(const std::string& name) const { return (dir / name).string(); }

    // A canvas whose gray plane holds a marker, to see what a load changed.
    static Canvas canvasOf(int32_t w, int32_t h, uint8_t marker = 0xAB) {
        Canvas c;
        c.createCanvas(w, h);
        std::fill(c.gray.begin(), c.gray.end(), marker);
        return c;
    }

    // Expects the window (ox, oy) of the pattern image in the canvas.
    static void expectPatternWindow(const Canvas& c, uint32_t ox, uint32_t oy) {
        for (int32_t i = 0; i < c.height; ++i) {
            for (int32_t j = 0; j < c.width; ++j) {
                ASSERT_EQ(c.gray[i * c.width + j], pattern(ox + j, oy + i)) << "window pixel " << j << "," << i;
            }
        }
    }

    static bool untouched(const Canvas& c, uint8_t marker = 0xAB) {
        return std::all_of(c.gray.begin(), c.gray.end(), [&](uint8_t v) { return v == marker; });
    }

    fs::path dir;
};

TEST_F(FrameLoader, GrayPngIsCopiedByteForByteTopRowFirst) {
    const std::vector<uint8_t> bytes = {0,  1,  2,  3,  4,  5,  10, 11, 12, 13, 14, 15, 20, 21, 22,
                                        23, 24, 25, 30, 31, 32, 33, 34, 35, 40, 41, 42, 43, 44, 255};
    writePng(dir / "g.png", {6, 5}, bytes);
    Canvas c = canvasOf(6, 5);
    const Status r = loadFrame(c, file("g.png").c_str(), 0, 0);
    ASSERT_EQ(r.code, StatusCode::ok) << r.detail;
    EXPECT_EQ(c.gray, bytes);
}

TEST_F(FrameLoader, GrayTiffIsCopiedByteForByteTopRowFirst) {
    const std::vector<uint8_t> bytes = patternBytes(6, 5);
    TiffSpec plain{6, 5};
    TiffSpec strips{6, 5};
    strips.rowsPerStrip = 2;  // the last strip holds one row
    strips.compression = COMPRESSION_LZW;
    TiffSpec whiteIsZero{6, 5};
    whiteIsZero.photometric = PHOTOMETRIC_MINISWHITE;  // stored bytes, not inverted
    const std::pair<const char*, TiffSpec> cases[] = {
        {"plain.tif", plain}, {"strips.tif", strips}, {"white.tif", whiteIsZero}};
    for (const auto& [name, format] : cases) {
        const std::string path = file(name);
        writeTiff(path, format, bytes);
        Canvas c = canvasOf(6, 5);
        const Status r = loadFrame(c, path.c_str(), 0, 0);
        ASSERT_EQ(r.code, StatusCode::ok) << path << ": " << r.detail;
        EXPECT_EQ(c.gray, bytes) << path;
    }
}

TEST_F(FrameLoader, WindowAtOffsetStartsAtItsOrigin) {
    const std::vector<uint8_t> bytes = patternBytes(40, 50);
    PngFormat interlaced{40, 50};
    interlaced.interlaced = true;
    writePng(dir / "plain.png", {40, 50}, bytes);
    writePng(dir / "interlaced.png", interlaced, bytes);
    TiffSpec strips{40, 50};
    strips.rowsPerStrip = 7;
    TiffSpec tiles{40, 50};
    tiles.tileSize = 16;  // the window crosses tile borders in both directions
    writeTiff(dir / "strips.tif", strips, bytes);
    writeTiff(dir / "tiles.tif", tiles, bytes);
    for (const char* name : {"plain.png", "interlaced.png", "strips.tif", "tiles.tif"}) {
        SCOPED_TRACE(name);
        Canvas c = canvasOf(12, 10);
        const Status r = loadFrame(c, file(name).c_str(), 10, 20);
        ASSERT_EQ(r.code, StatusCode::ok) << r.detail;
        EXPECT_EQ(c.gray.front(), pattern(10, 20));
        EXPECT_EQ(c.gray.back(), pattern(21, 29));
        expectPatternWindow(c, 10, 20);
    }
}

TEST_F(FrameLoader, WindowTouchingTheImageEdgesIsInside) {
    writePng(dir / "p.png", {40, 50}, patternBytes(40, 50));
    Canvas c = canvasOf(12, 10);
    ASSERT_EQ(loadFrame(c, file("p.png").c_str(), 28, 40).code, StatusCode::ok);
    EXPECT_EQ(c.gray.back(), pattern(39, 49));
    expectPatternWindow(c, 28, 40);
}

TEST_F(FrameLoader, PaletteImagesDeliverIndicesNotColours) {
    // Index i is colour (255 - i, i, 37): far from a gray ramp.
    PngFormat format{6, 2, 8, PNG_COLOR_TYPE_PALETTE};
    for (int i = 0; i < 200; ++i) {
        format.palette.push_back({static_cast<png_byte>(255 - i), static_cast<png_byte>(i), 37});
    }
    const std::vector<uint8_t> indices = {0, 1, 2, 100, 150, 199, 199, 3, 0, 57, 58, 7};
    writePng(dir / "pal.png", format, indices);
    TiffSpec tiffSpec{6, 2};
    tiffSpec.photometric = PHOTOMETRIC_PALETTE;
    writeTiff(dir / "pal.tif", tiffSpec, indices);
    for (const char* name : {"pal.png", "pal.tif"}) {
        Canvas c = canvasOf(6, 2);
        const Status r = loadFrame(c, file(name).c_str(), 0, 0);
        ASSERT_EQ(r.code, StatusCode::ok) << name << ": " << r.detail;
        EXPECT_EQ(c.gray, indices) << name;
    }
}

TEST_F(FrameLoader, ColourBecomesRoundedLuma) {
    // Hand values of round(0.299 R + 0.587 G + 0.114 B).
    const std::vector<std::array<uint8_t, 3>> rgb = {{255, 0, 0},   {0, 255, 0},    {0, 0, 255},   {255, 255, 255},
                                                     {10, 20, 30},  {100, 50, 200}, {5, 0, 0},     {0, 0, 5}};
    const std::vector<uint8_t> luma = {76, 150, 29, 255, 18, 82, 1, 1};
    std::vector<uint8_t> packed3, packed4, separate(3 * rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i) {
        packed3.insert(packed3.end(), rgb[i].begin(), rgb[i].end());
        packed4.insert(packed4.end(), rgb[i].begin(), rgb[i].end());
        packed4.push_back(static_cast<uint8_t>(i * 30));  // alpha is ignored
        for (size_t k = 0; k < 3; ++k) separate[k * rgb.size() + i] = rgb[i][k];
    }
    writePng(dir / "rgb.png", {4, 2, 8, PNG_COLOR_TYPE_RGB}, packed3);
    writePng(dir / "rgba.png", {4, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA}, packed4);
    TiffSpec rgbTiff{4, 2, 8, 3, PHOTOMETRIC_RGB};
    TiffSpec rgbaTiff{4, 2, 8, 4, PHOTOMETRIC_RGB};
    rgbaTiff.extraAlpha = true;
    TiffSpec planarTiff = rgbTiff;
    planarTiff.separate = true;
    writeTiff(dir / "rgb.tif", rgbTiff, packed3);
    writeTiff(dir / "rgba.tif", rgbaTiff, packed4);
    writeTiff(dir / "planar.tif", planarTiff, separate);
    for (const char* name : {"rgb.png", "rgba.png", "rgb.tif", "rgba.tif", "planar.tif"}) {
        Canvas c = canvasOf(4, 2);
        const Status r = loadFrame(c, file(name).c_str(), 0, 0);
        ASSERT_EQ(r.code, StatusCode::ok) << name << ": " << r.detail;
        EXPECT_EQ(c.gray, luma) << name;
    }
}

TEST_F(FrameLoader, GrayWithAlphaDeliversTheGraySample) {
    writePng(dir / "ga.png", {3, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA}, {7, 255, 99, 0, 200, 128});
    Canvas c = canvasOf(3, 1);
    ASSERT_EQ(loadFrame(c, file("ga.png").c_str(), 0, 0).code, StatusCode::ok);
    EXPECT_EQ(c.gray, (std::vector<uint8_t>{7, 99, 200}));
}

TEST_F(FrameLoader, OtherSampleFormatsAreUnsupportedAndNamed) {
    writePng(dir / "g16.png", {2, 2, 16, PNG_COLOR_TYPE_GRAY}, std::vector<uint8_t>(8, 1));
    writePng(dir / "g4.png", {2, 2, 4, PNG_COLOR_TYPE_GRAY}, {0x12, 0x34});
    writePng(dir / "rgb16.png", {2, 1, 16, PNG_COLOR_TYPE_RGB}, std::vector<uint8_t>(12, 1));
    TiffSpec g16{2, 2, 16};
    writeTiff(dir / "g16.tif", g16, std::vector<uint8_t>(8, 1));
    TiffSpec f32{2, 2, 32};
    f32.sampleFormat = SAMPLEFORMAT_IEEEFP;
    writeTiff(dir / "f32.tif", f32, std::vector<uint8_t>(16, 0));
    TiffSpec cmyk{2, 2, 8, 4, PHOTOMETRIC_SEPARATED};
    writeTiff(dir / "cmyk.tif", cmyk, std::vector<uint8_t>(16, 9));
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"g16.png", "16-bit gray"}, {"g4.png", "4-bit gray"},      {"rgb16.png", "16-bit RGB"},
        {"g16.tif", "16-bit gray"}, {"f32.tif", "floating-point"}, {"cmyk.tif", "CMYK"}};
    for (const auto& [name, words] : cases) {
        Canvas c = canvasOf(2, 1);
        const Status r = loadFrame(c, file(name).c_str(), 0, 0);
        EXPECT_EQ(r.code, StatusCode::unsupportedFormat) << name;
        EXPECT_NE(r.detail.find(words), std::string::npos) << name << ": " << r.detail;
        EXPECT_TRUE(untouched(c)) << name;
    }
}

TEST_F(FrameLoader, MissingOrBrokenFilesAreUndecodable) {
    {
        std::ofstream(file("text.png")) << "not an image at all";
    }
    writePng(dir / "full.png", {40, 50}, patternBytes(40, 50));
    {
        // Header intact, image data cut off half way.
        std::ifstream in(file("full.png"), std::ios::binary);
        std::vector<char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(file("cut.png"), std::ios::binary).write(all.data(), static_cast<std::streamsize>(all.size() / 2));
    }
    {
        std::ofstream(file("cut.tif"), std::ios::binary).write("II*\0\x08\0\0\0\x05\0", 10);
    }
    std::ofstream(file("empty.tif")).close();
    for (const char* name : {"missing.png", "text.png", "cut.png", "cut.tif", "empty.tif"}) {
        Canvas c = canvasOf(12, 10);
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        const Status r = loadFrame(c, file(name).c_str(), 0, 0);
        const std::string printedOut = ::testing::internal::GetCapturedStdout();
        const std::string printedErr = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.code, StatusCode::undecodable) << name;
        EXPECT_FALSE(r.detail.empty()) << name;
        EXPECT_EQ(r.detail.find('\n'), std::string::npos) << name;
        EXPECT_TRUE(untouched(c)) << name << ": a failed load must keep the previous frame";
        EXPECT_EQ(printedOut + printedErr, "") << name << ": the decoders must stay silent";
    }
}

TEST_F(FrameLoader, WindowOutsideTheImageIsRefusedAndNothingIsRead) {
    writePng(dir / "p.png", {40, 50}, patternBytes(40, 50));
    writeTiff(dir / "p.tif", {40, 50}, patternBytes(40, 50));
    const struct {
        int32_t x, y;
    } origins[] = {{-1, 0}, {0, -1}, {29, 0}, {0, 41}, {40, 50}};
    for (const char* name : {"p.png", "p.tif"}) {
        for (const auto& o : origins) {
            Canvas c = canvasOf(12, 10);
            const Status r = loadFrame(c, file(name).c_str(), o.x, o.y);
            EXPECT_EQ(r.code, StatusCode::windowOutside) << name << " at " << o.x << "," << o.y;
            EXPECT_FALSE(r.detail.empty());
            EXPECT_TRUE(untouched(c));
        }
    }
}

TEST_F(FrameLoader, FailureAfterAGoodFrameKeepsThatFrame) {
    writePng(dir / "good.png", {40, 50}, patternBytes(40, 50));
    writePng(dir / "deep.png", {40, 50, 16, PNG_COLOR_TYPE_GRAY}, std::vector<uint8_t>(40 * 50 * 2, 3));
    Canvas c = canvasOf(12, 10);
    ASSERT_EQ(loadFrame(c, file("good.png").c_str(), 3, 4).code, StatusCode::ok);
    EXPECT_EQ(loadFrame(c, file("deep.png").c_str(), 0, 0).code, StatusCode::unsupportedFormat);
    EXPECT_EQ(loadFrame(c, file("none.png").c_str(), 0, 0).code, StatusCode::undecodable);
    EXPECT_EQ(loadFrame(c, file("good.png").c_str(), 35, 0).code, StatusCode::windowOutside);
    expectPatternWindow(c, 3, 4);
}

TEST_F(FrameLoader, FormatFollowsContentNotExtension) {
    writePng(dir / "png_named.tif", {40, 50}, patternBytes(40, 50));
    writeTiff(dir / "tiff_named.png", {40, 50}, patternBytes(40, 50));
    for (const char* name : {"png_named.tif", "tiff_named.png"}) {
        Canvas c = canvasOf(12, 10);
        const Status r = loadFrame(c, file(name).c_str(), 1, 2);
        ASSERT_EQ(r.code, StatusCode::ok) << name << ": " << r.detail;
        expectPatternWindow(c, 1, 2);
    }
}

}  // namespace
}  // namespace vanto
