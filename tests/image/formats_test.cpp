#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <thread>
#include <vector>

#include "frame_files.h"
#include "image/frame_loader.h"
#include "image/gray_mapping.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::TempDir;
using testing::TiffPage;

std::vector<uint8_t> load(const std::string& path, int32_t w, int32_t h, const GrayMapping& m, Status* out = nullptr,
                          int32_t x = 0, int32_t y = 0) {
    std::vector<uint8_t> gray(static_cast<size_t>(w) * h, 0xAB);
    FrameReader reader;
    const Status r = reader.load(path.c_str(), 0, x, y, w, h, m, gray.data());
    if (out) *out = r;
    EXPECT_TRUE(out || r.code == StatusCode::ok) << path << ": " << r.detail;
    return gray;
}

TEST(GrayMapping, IntegerRangesRoundHalvesUpExactly) {
    const GrayMapping full = makeGrayMapping(true, 0, 65535);
    std::vector<float> v(256);
    std::vector<uint8_t> g(256);
    for (int i = 0; i < 256; ++i) v[i] = static_cast<float>(257 * i);
    mapValues(full, true, v.data(), g.data(), v.size());
    for (int i = 0; i < 256; ++i) ASSERT_EQ(g[i], i);
    // 0..510: v / 2, so odd values sit on a half and go up; outside the range clamps.
    const GrayMapping halves = makeGrayMapping(true, 0, 510);
    const std::vector<float> in = {1, 3, 509, -7, 600};
    mapValues(halves, true, in.data(), g.data(), in.size());
    EXPECT_EQ(std::vector<uint8_t>(g.begin(), g.begin() + 5), (std::vector<uint8_t>{1, 2, 255, 0, 255}));
    // Decimal bounds take the real path with the same rule.
    const GrayMapping shifted = makeGrayMapping(true, 0.5, 255.5);
    const std::vector<float> in2 = {1, 0.5, 255.5, 2};
    mapValues(shifted, true, in2.data(), g.data(), in2.size());
    EXPECT_EQ(std::vector<uint8_t>(g.begin(), g.begin() + 4), (std::vector<uint8_t>{1, 0, 255, 2}));
}

TEST(GrayMapping, FloatNanAndInfinitiesMapWithoutUndefinedBehaviour) {
    // A float-to-integer cast of NaN, an infinity or 1e30 would be undefined: the mapping clamps first.
    const GrayMapping m = makeGrayMapping(true, -1, 1);
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> in = {std::nanf(""), inf, -inf, 0, 1e30f, -1e30f};
    std::vector<uint8_t> g(in.size());
    EXPECT_EQ(mapValues(m, false, in.data(), g.data(), in.size()), 1u) << "one NaN counted";
    EXPECT_EQ(g, (std::vector<uint8_t>{0, 255, 0, 128, 255, 0}));
    // NaN takes the side it is given (the background's); the others are mapped as before.
    const GrayMapping bright = makeGrayMapping(true, -1, 1, 255);
    EXPECT_EQ(mapValues(bright, false, in.data(), g.data(), in.size()), 1u);
    EXPECT_EQ(g, (std::vector<uint8_t>{255, 255, 0, 128, 255, 0}));
}

TEST(GrayMapping, BoundsThatCannotScaleAreNamed) {
    EXPECT_EQ(rangeSpanProblem(0, 65535), "");
    EXPECT_EQ(rangeSpanProblem(-1e300, 1e300), "");
    EXPECT_NE(rangeSpanProblem(-1e308, 1e308).find("not a finite number"), std::string::npos);
    EXPECT_NE(rangeSpanProblem(0, 1e-310).find("too small"), std::string::npos);
    // The smallest span that passes maps without a NaN or an out-of-range cast.
    const GrayMapping tiny = makeGrayMapping(true, 0, 1e-300);
    const std::vector<float> in = {0, 1e-38f, -1e-38f, 3e38f};
    std::vector<uint8_t> g(in.size());
    EXPECT_EQ(mapValues(tiny, false, in.data(), g.data(), in.size()), 0u);
    EXPECT_EQ(g, (std::vector<uint8_t>{0, 255, 0, 255}));
}

TEST(FrameReaderFormats, SixteenBitLayoutsAndFloatDecodeLikeAPlainFile) {
    TempDir dir;
    const uint32_t w = 40, h = 30;
    std::vector<uint16_t> samples(w * h);
    for (uint32_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>((i * 2654435761u) >> 16);
    TiffPage plain = testing::grayPage(w, h, 16);
    plain.data = testing::bytesOf(samples);
    ASSERT_TRUE(testing::writeTiffPages(dir.file("plain.tif"), {plain}));
    TiffPage odd = plain;
    odd.rowsPerStrip = 7;  // strips that do not divide the height
    odd.compression = COMPRESSION_ADOBE_DEFLATE;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("odd_be.tif"), {odd}, "wb"));
    TiffPage tiled = plain;
    tiled.tile = 16;
    tiled.compression = COMPRESSION_LZW;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("tiled_big.tif"), {tiled}, "w8"));
    std::vector<float> real(samples.begin(), samples.end());
    TiffPage flt = testing::grayPage(w, h, 32, SAMPLEFORMAT_IEEEFP);
    flt.data = testing::bytesOf(real);
    ASSERT_TRUE(testing::writeTiffPages(dir.file("float.tif"), {flt}));

    const GrayMapping m = makeGrayMapping(true, 1000, 60000);
    const auto expected = load(dir.file("plain.tif"), 21, 17, m, nullptr, 13, 9);
    EXPECT_NE(std::count(expected.begin(), expected.end(), 0xAB), static_cast<long>(expected.size()));
    for (const char* name : {"odd_be.tif", "tiled_big.tif", "float.tif"})
        EXPECT_EQ(load(dir.file(name), 21, 17, m, nullptr, 13, 9), expected) << name;

    // Without a range, 16-bit samples are refused and the reader says what frame 1 holds.
    FrameReader reader;
    std::vector<uint8_t> gray(4, 7);
    const Status r = reader.load(dir.file("plain.tif").c_str(), 0, 0, 0, 2, 2, GrayMapping{}, gray.data());
    EXPECT_EQ(r.code, StatusCode::unsupportedFormat);
    EXPECT_NE(r.detail.find("-range"), std::string::npos) << r.detail;
    EXPECT_EQ(gray, std::vector<uint8_t>(4, 7));
    SampleStats stats;
    ASSERT_TRUE(reader.statsOfLastWindow(stats));
    EXPECT_EQ(stats.min, *std::min_element(samples.begin(), samples.begin() + 2));
    EXPECT_EQ(reader.facts().bits, 16);
}

TEST(FrameReaderFormats, SixteenBitPngMapsLikeTiff) {
    TempDir dir;
    std::vector<uint8_t> eight(6 * 4);
    std::iota(eight.begin(), eight.end(), 100);
    std::vector<uint16_t> wide(eight.begin(), eight.end());
    for (auto& v : wide) v = static_cast<uint16_t>(v * 257);
    TiffPage page = testing::grayPage(6, 4, 16);
    page.data = testing::bytesOf(wide);
    ASSERT_TRUE(testing::writeTiffPages(dir.file("w.tif"), {page}));
    ASSERT_TRUE(testing::writeSixteenBitPng(dir.file("w.png"), 6, 4, wide));
    const GrayMapping m = makeGrayMapping(true, 0, 65535);
    EXPECT_EQ(load(dir.file("w.tif"), 6, 4, m), eight);
    EXPECT_EQ(load(dir.file("w.png"), 6, 4, m), eight);
}

// Each crafted frame declares gigabytes; it must fail with a reason inside an address-space
// limit, and a normal frame must still load after it.
TEST(FrameReaderLimits, BombFramesFailWithAReasonWithinBoundedMemory) {
    TempDir dir;
    testing::writeBytes(dir.file("strip.tif"), testing::declaredTiff(100000, 100000, 100000, 0));
    testing::writeBytes(dir.file("tile.tif"), testing::declaredTiff(65536, 65536, 0, 65536));
    testing::writeBytes(dir.file("line.tif"), testing::declaredTiff(4000000000u, 1, 1, 0));
    testing::writeBytes(dir.file("interlaced.png"), testing::declaredInterlacedPng(1000000, 1000000));
    TiffPage good = testing::grayPage(64, 48);
    good.data.assign(64 * 48, 9);
    ASSERT_TRUE(testing::writeTiffPages(dir.file("good.tif"), {good}));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{1ull << 30, 1ull << 30};  // far below any bomb, far above the cap
        if (testing::kAddressSpaceLimitWorks && setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
        FrameReader reader;
        std::vector<uint8_t> gray(64 * 48);
        int failures = 0;
        for (const char* name : {"strip.tif", "tile.tif", "interlaced.png", "line.tif"}) {
            const int32_t h = std::string(name) == "line.tif" ? 1 : 48;
            const Status r = reader.load(dir.file(name).c_str(), 0, 0, 0, 64, h, GrayMapping{}, gray.data());
            if (r.code != StatusCode::undecodable || r.detail.find("decoding cap") == std::string::npos) {
                std::fprintf(stderr, "%s: %s\n", name, r.detail.c_str());
                ++failures;
            }
        }
        const Status r = reader.load(dir.file("good.tif").c_str(), 0, 0, 0, 64, 48, GrayMapping{}, gray.data());
        _exit(failures == 0 && r.code == StatusCode::ok && gray[0] == 9 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the reader was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// One reader per thread, different frames at once, broken ones among them: the messages
// libtiff and libpng produce must stay with their own frame.
TEST(FrameReaderFormats, ReadersOnSeveralThreadsGiveTheSerialResults) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint16_t> samples(32 * 24);
        for (size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<uint16_t>(k * (i + 3) * 97);
        TiffPage page = testing::grayPage(32, 24, 16);
        page.data = testing::bytesOf(samples);
        page.compression = COMPRESSION_LZW;
        paths.push_back(dir.file("t" + std::to_string(i) + ".tif"));
        ASSERT_TRUE(testing::writeTiffPages(paths.back(), {page}));
        paths.push_back(dir.file("p" + std::to_string(i) + ".png"));
        ASSERT_TRUE(testing::writeSixteenBitPng(paths.back(), 32, 24, samples));
    }
    testing::writeBytes(dir.file("cut.tif"), testing::declaredTiff(32, 24, 24, 0));
    paths.push_back(dir.file("cut.tif"));
    const GrayMapping m = makeGrayMapping(true, 0, 65535);
    const auto readAll = [&](std::vector<std::string>& results) {
        FrameReader reader;
        std::vector<uint8_t> gray(32 * 24);
        for (const auto& path : paths) {
            const Status r = reader.load(path.c_str(), 0, 0, 0, 32, 24, m, gray.data());
            results.push_back(r.detail + std::string(gray.begin(), gray.end()));
        }
    };
    std::vector<std::string> serial;
    readAll(serial);
    std::vector<std::vector<std::string>> parallel(4);
    {
        std::vector<std::jthread> threads;
        for (auto& results : parallel) threads.emplace_back([&] {
            for (int round = 0; round < 10; ++round) readAll(results);
        });
    }
    for (const auto& results : parallel)
        for (size_t k = 0; k < results.size(); ++k) ASSERT_EQ(results[k], serial[k % serial.size()]) << k;
}

TEST(FrameReaderLimits, PathsThatAreNotRegularFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("fifo"), "FIFO"}, {dir.path(), "directory"}, {"/dev/zero", "device"}, {dir.file("none"), "no such file"}};
    for (const auto& [path, words] : cases) {
        Status r;
        load(path, 4, 4, GrayMapping{}, &r);
        EXPECT_EQ(r.code, StatusCode::undecodable) << path;
        EXPECT_NE(r.detail.find(words), std::string::npos) << path << ": " << r.detail;
    }
}

// A stack's pages are reached from the page read last: in order, skipping pages, and back to
// an earlier one, each page gives its own pixels; a file replaced under the same name is read
// anew, never from the handle kept for the old one.
TEST(FrameReaderStacks, PagesInAnyOrderAndAReplacedFileGiveTheirOwnPixels) {
    TempDir dir;
    const std::string path = dir.file("stack.tif");
    const auto writeStack = [&](int pages, int base) {
        std::vector<TiffPage> all;
        for (int p = 0; p < pages; ++p) {
            TiffPage page = testing::grayPage(5, 3);
            page.data.assign(15, static_cast<uint8_t>(base + p));
            all.push_back(page);
        }
        ASSERT_TRUE(testing::writeTiffPages(path, all));
    };
    writeStack(12, 10);
    const GrayMapping none = makeGrayMapping(false, 0, 0);
    FrameReader reader;
    std::vector<uint8_t> gray(15);
    const auto pageValue = [&](int32_t page) {
        const Status r = reader.load(path.c_str(), page, 0, 0, 5, 3, none, gray.data());
        EXPECT_EQ(r.code, StatusCode::ok) << "page " << page << ": " << r.detail;
        return static_cast<int>(gray[14]);
    };
    for (const int32_t page : {0, 1, 2, 5, 6, 11, 3, 0, 7, 7}) EXPECT_EQ(pageValue(page), 10 + page) << page;
    Status beyond = reader.load(path.c_str(), 12, 0, 0, 5, 3, none, gray.data());
    EXPECT_EQ(beyond.detail, "the TIFF file has no page 13");
    EXPECT_EQ(pageValue(4), 14) << "a failed page does not spoil the next read";

    // Rewritten in place with other pixels (the same size): page 8 after page 4 comes from the new file.
    EXPECT_EQ(pageValue(4), 14);
    std::filesystem::remove(path);
    writeStack(12, 100);
    EXPECT_EQ(pageValue(8), 108);
}

}  // namespace
}  // namespace vanto
