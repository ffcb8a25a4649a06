#include "image/png_inflate.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frame_files.h"
#include "image/frame_decode.h"
#include "image/frame_loader.h"
#include "image/gray_mapping.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What one way of reading a window gives.
struct Decoded {
    StatusCode code = StatusCode::ok;
    std::string detail;
    FrameFacts facts;
    std::vector<float> values;
};

Decoded decode(const std::string& path, PngPath way, int32_t x, int32_t y, int32_t w, int32_t h) {
    Decoded d;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return d;
    uint8_t signature[8] = {};
    if (::read(fd, signature, 8) != 8) {
        ::close(fd);
        d.code = StatusCode::undecodable;
        return d;
    }
    std::vector<uint8_t> block, rows;
    DecodeScratch scratch{block, rows};
    d.values.assign(static_cast<size_t>(w) * h, -7.0f);
    const Status s = readPngWindow(fd, DecodeTarget{x, y, w, h, d.values.data()}, scratch, d.facts, way);
    d.code = s.code;
    d.detail = s.detail;
    return d;
}

// Both ways read the same windows of the file alike: status, message, facts and samples.
void expectBothWaysAlike(const std::string& path, const std::string& what) {
    const Bytes file = readBytes(path);
    uint32_t width = 1, height = 1;
    if (file.size() >= 24) {
        width = (uint32_t{file[16]} << 24) | (uint32_t{file[17]} << 16) | (uint32_t{file[18]} << 8) | file[19];
        height = (uint32_t{file[20]} << 24) | (uint32_t{file[21]} << 16) | (uint32_t{file[22]} << 8) | file[23];
    }
    const int32_t w = static_cast<int32_t>(std::clamp<uint32_t>(width, 1, 2000));
    const int32_t h = static_cast<int32_t>(std::clamp<uint32_t>(height, 1, 2000));
    struct Window {
        int32_t x, y, w, h;
    };
    for (const Window win : {Window{0, 0, w, h}, Window{w / 3, h / 2, w - w / 3, h - h / 2}, Window{0, 0, 1, 1},
                             Window{1, 0, w, h}}) {
        const Decoded fast = decode(path, PngPath::fastest, win.x, win.y, win.w, win.h);
        const Decoded plain = decode(path, PngPath::libpngOnly, win.x, win.y, win.w, win.h);
        const auto where = ::testing::Message() << what << ", window " << win.x << "," << win.y << " " << win.w
                                                << " x " << win.h;
        EXPECT_EQ(fast.code, plain.code) << where << ": " << fast.detail << " / " << plain.detail;
        EXPECT_EQ(fast.detail, plain.detail) << where;
        EXPECT_EQ(fast.facts.width, plain.facts.width) << where;
        EXPECT_EQ(fast.facts.height, plain.facts.height) << where;
        EXPECT_EQ(fast.facts.bits, plain.facts.bits) << where;
        EXPECT_EQ(fast.facts.colour, plain.facts.colour) << where;
        EXPECT_EQ(fast.facts.samplesPerPixel, plain.facts.samplesPerPixel) << where;
        if (fast.code == StatusCode::ok) {
            EXPECT_TRUE(fast.values == plain.values) << where;
        }
    }
}

// Whether the fast way takes the file at all.
bool taken(const Bytes& file) {
    if (file.size() < 8) return false;
    Bytes body(file.begin() + 8, file.end());
    std::vector<uint8_t> raw;
    InflatedPng image;
    return inflateGrayPng(body.data(), body.size(), 1ull << 30, raw, image);
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A 97 x 61 gray PNG of the given depth written by libpng with one filter on every row, a
// text chunk in front of the image data.
void writeFilteredPng(const std::string& path, int bits, int filter, const std::vector<uint8_t>& pixels,
                      const std::vector<uint16_t>& wide) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng could not write " << path;
    } else {
        png_init_io(png, file);
        png_set_filter(png, 0, filter);
        png_set_IHDR(png, info, 97, 61, bits, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("Comment");
        text.text = const_cast<char*>("a frame");
        png_set_text(png, info, &text, 1);
        png_write_info(png, info);
        if (bits == 16) png_set_swap(png);
        for (int32_t y = 0; y < 61; ++y) {
            png_write_row(png, bits == 8 ? const_cast<png_bytep>(pixels.data() + y * 97)
                                         : reinterpret_cast<png_bytep>(const_cast<uint16_t*>(wide.data() + y * 97)));
        }
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// Gray PNGs of every kind the frames come in, written by libpng with each of its filters.
std::vector<std::string> writtenFrames(const testing::TempDir& dir) {
    std::vector<std::string> paths;
    SeriesParams params;
    params.width = 97;
    params.height = 61;
    params.cellCount = 9;
    std::vector<uint8_t> pixels(97 * 61);
    renderSyntheticFrame(params, 3, pixels.data());
    paths.push_back(dir.file("synthetic.png"));
    EXPECT_TRUE(writeGrayPng(paths.back().c_str(), 97, 61, pixels.data()));
    std::vector<uint16_t> wide(pixels.begin(), pixels.end());
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint16_t>(wide[i] * 257 + i % 251);
    paths.push_back(dir.file("sixteen.png"));
    EXPECT_TRUE(testing::writeSixteenBitPng(paths.back(), 97, 61, wide));
    // Each filter on its own, 8 and 16 bits, with a text chunk in front of the image data; on
    // the frame and on noise of a few levels, where the predictors tie often.
    std::mt19937 rng(31);
    std::vector<uint8_t> noise(pixels.size());
    for (uint8_t& v : noise) v = static_cast<uint8_t>(rng() % 4 * 85);
    std::vector<uint16_t> wideNoise(noise.size());
    for (uint16_t& v : wideNoise) v = static_cast<uint16_t>(rng() % 3 * 0x7f81);
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    for (const int bits : {8, 16}) {
        for (int f = 0; f < 5; ++f) {
            const std::string name = "filter" + std::to_string(f) + "_" + std::to_string(bits);
            paths.push_back(dir.file(name + ".png"));
            writeFilteredPng(paths.back(), bits, filters[f], pixels, wide);
            paths.push_back(dir.file(name + "_noise.png"));
            writeFilteredPng(paths.back(), bits, filters[f], noise, wideNoise);
        }
    }
    return paths;
}

TEST(PngInflate, EveryPngTheTestsHoldReadsAsLibpngReadsIt) {
    testing::TempDir dir;
    std::vector<std::string> paths = writtenFrames(dir);
    int takenCount = 0;
    for (const auto& p : paths) {
        EXPECT_TRUE(taken(readBytes(p))) << p << " is a plain gray frame the fast way must take";
    }
    // What the repository and the shared series hold; the interlaced and bomb files are declined.
    for (const std::string& root : {std::string(VANTO_SOURCE_DIR) + "/fuzz/regressions", std::string(VANTO_SHARED_DATA)}) {
        if (!fs::exists(root)) continue;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (!e.is_regular_file()) continue;
            const Bytes head = readBytes(e.path().string());
            if (head.size() >= 8 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') paths.push_back(e.path().string());
        }
    }
    writeFile(dir.file("interlaced.png"), testing::declaredInterlacedPng(40, 30));
    paths.push_back(dir.file("interlaced.png"));
    for (const auto& p : paths) {
        takenCount += taken(readBytes(p));
        expectBothWaysAlike(p, p);
    }
    EXPECT_GE(takenCount, 22);
}

// Sets the CRC of the chunk that holds byte `at` of file to its right value, so that a change
// inside the chunk reaches the checks behind the CRC.
void fixCrc(Bytes& file, size_t at) {
    size_t chunk = 8;
    while (chunk + 12 <= file.size()) {
        const uint32_t length = (uint32_t{file[chunk]} << 24) | (uint32_t{file[chunk + 1]} << 16) |
                                (uint32_t{file[chunk + 2]} << 8) | file[chunk + 3];
        if (length > file.size() - chunk - 12) return;
        if (at < chunk + 12 + length) {
            const uint32_t crc = static_cast<uint32_t>(::crc32(0, file.data() + chunk + 4, length + 4));
            for (int i = 0; i < 4; ++i) file[chunk + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
            return;
        }
        chunk += 12 + length;
    }
}

TEST(PngInflate, DamagedFilesFailOrReadExactlyAsLibpngReadsThem) {
    testing::TempDir dir;
    const std::vector<std::string> bases = writtenFrames(dir);
    std::mt19937 rng(2026);
    const std::string damaged = dir.file("damaged.png");
    int count = 0;
    for (const std::string& base : bases) {
        const Bytes good = readBytes(base);
        for (int i = 0; i < 24; ++i) {
            Bytes bad = good;
            const size_t at = 8 + rng() % (bad.size() - 8);
            switch (i % 4) {
                case 0: bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;  // caught by a CRC
                case 1:
                    bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
                    fixCrc(bad, at);
                    break;
                case 2: bad.resize(at); break;
                case 3:
                    bad[at] = static_cast<uint8_t>(rng());
                    bad[std::min(at + 1, bad.size() - 1)] = static_cast<uint8_t>(rng());
                    fixCrc(bad, at);
                    break;
            }
            writeFile(damaged, bad);
            expectBothWaysAlike(damaged, base + " damaged at " + std::to_string(at) + " in way " + std::to_string(i % 4));
            ++count;
        }
    }
    EXPECT_EQ(count, 24 * static_cast<int>(bases.size()));
}

TEST(PngInflate, DeclinesWhatItCannotCheckAndStaysWithinItsBound) {
    testing::TempDir dir;
    const std::vector<std::string> frames = writtenFrames(dir);
    const Bytes good = readBytes(frames.front());
    Bytes body(good.begin() + 8, good.end());
    std::vector<uint8_t> raw;
    InflatedPng image;
    // The bound covers the file and the raw image together.
    const uint64_t rawBytes = uint64_t{97 + 1} * 61;
    EXPECT_FALSE(inflateGrayPng(body.data(), body.size(), body.size() + rawBytes - 1, raw, image));
    body.assign(good.begin() + 8, good.end());
    EXPECT_TRUE(inflateGrayPng(body.data(), body.size(), body.size() + rawBytes, raw, image));
    EXPECT_EQ(image.width, 97u);
    EXPECT_EQ(image.bits, 8);
    // A chunk the fast way does not know (sBIT), with its CRC right: declined, libpng reads it.
    Bytes withSbit(good.begin(), good.begin() + 33);
    const Bytes sbit = {0, 0, 0, 1, 's', 'B', 'I', 'T', 8};
    withSbit.insert(withSbit.end(), sbit.begin(), sbit.end());
    const uint32_t crc = static_cast<uint32_t>(::crc32(0, sbit.data() + 4, 5));
    for (int i = 0; i < 4; ++i) withSbit.push_back(static_cast<uint8_t>(crc >> (24 - 8 * i)));
    withSbit.insert(withSbit.end(), good.begin() + 33, good.end());
    EXPECT_FALSE(taken(withSbit));
    writeFile(dir.file("sbit.png"), withSbit);
    expectBothWaysAlike(dir.file("sbit.png"), "with sBIT");
    EXPECT_EQ(decode(dir.file("sbit.png"), PngPath::fastest, 0, 0, 97, 61).code, StatusCode::ok);
}

TEST(PngInflate, EightBitFramesGoStraightToGrayAsTheyDidThroughValues) {
    testing::TempDir dir;
    FrameReader reader;
    for (const std::string& path : writtenFrames(dir)) {
        const Decoded plain = decode(path, PngPath::libpngOnly, 5, 7, 80, 50);
        ASSERT_EQ(plain.code, StatusCode::ok) << path;
        std::vector<uint8_t> gray(80 * 50, 3), expected(80 * 50);
        const bool sixteen = plain.facts.bits == 16;
        const GrayMapping mapping = sixteen ? makeGrayMapping(true, 0, 65535) : GrayMapping{};
        mapValues(mapping, true, plain.values.data(), expected.data(), expected.size());
        ASSERT_TRUE(reader.load(path.c_str(), 0, 5, 7, 80, 50, mapping, gray.data()).ok()) << path;
        EXPECT_EQ(gray, expected) << path;
        SampleStats stats;
        EXPECT_EQ(reader.statsOfLastWindow(stats), sixteen) << path << ": 8-bit samples never passed through values";
        // With a range, 8-bit samples take the values' way and its rounding.
        if (!sixteen) {
            const GrayMapping range = makeGrayMapping(true, 10, 200);
            mapValues(range, true, plain.values.data(), expected.data(), expected.size());
            ASSERT_TRUE(reader.load(path.c_str(), 0, 5, 7, 80, 50, range, gray.data()).ok()) << path;
            EXPECT_EQ(gray, expected) << path;
            EXPECT_TRUE(reader.statsOfLastWindow(stats));
        }
    }
}

}  // namespace
}  // namespace vanto
