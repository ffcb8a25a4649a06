#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "image/canvas.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;

// The digit font as drawn in the documentation of the canvas, rows top to bottom.
const std::array<std::array<const char*, 5>, 10> kFont = {{
    {"###", "#.#", "#.#", "#.#", "###"},
    {".#.", ".#.", ".#.", ".#.", ".#."},
    {"###", "..#", "###", "#..", "###"},
    {"###", "..#", "###", "..#", "###"},
    {"#.#", "#.#", "###", "..#", "..#"},
    {"###", "#..", "###", "..#", "###"},
    {"#..", "#..", "###", "#.#", "###"},
    {"###", "..#", "..#", "..#", "..#"},
    {"###", "#.#", "###", "#.#", "###"},
    {"###", "#.#", "###", "..#", "..#"},
}};

using Pixels = std::set<std::pair<int32_t, int32_t>>;

// The set cells of digit d with its left column at x and top row at y.
Pixels glyphAt(int d, int32_t x, int32_t y) {
    Pixels p;
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (kFont[d][r][c] == '#') p.insert({x + c, y + r});
        }
    }
    return p;
}

Canvas grayCanvas(int32_t w, int32_t h, uint8_t value) {
    Canvas c;
    c.createCanvas(w, h);
    std::fill(c.gray.begin(), c.gray.end(), value);
    c.renderGray();
    return c;
}

std::array<uint8_t, 3> rgbOf(const Canvas& c, int32_t x, int32_t y) {
    const uint8_t* p = c.rgbAt(x, y);
    return {p[2], p[1], p[0]};
}

// The black pixels of a canvas rendered from a non-black gray.
Pixels blackPixels(const Canvas& c) {
    Pixels p;
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            if (rgbOf(c, x, y) == (std::array<uint8_t, 3>{0, 0, 0})) p.insert({x, y});
        }
    }
    return p;
}

TEST(CanvasDraw, CreateClearsGrayAndRenderGrayCopiesIt) {
    Canvas c;
    c.createCanvas(3, 2);
    ASSERT_EQ(c.gray.size(), 6u);
    ASSERT_EQ(c.rgb.size(), 18u);
    EXPECT_EQ(c.gray, std::vector<uint8_t>(6, 0));
    c.gray = {1, 2, 3, 4, 5, 6};
    c.renderGray();
    // Bottom row first: raster bytes 0..8 are image row 1.
    EXPECT_EQ(c.rgb, (std::vector<uint8_t>{4, 4, 4, 5, 5, 5, 6, 6, 6, 1, 1, 1, 2, 2, 2, 3, 3, 3}));
    c.setPixel(2, 0, 10, 20, 30);
    EXPECT_EQ(c.rgb[15], 30);  // blue first
    EXPECT_EQ(c.rgb[16], 20);
    EXPECT_EQ(c.rgb[17], 10);
    c.renderGray();
    EXPECT_EQ(rgbOf(c, 2, 0), (std::array<uint8_t, 3>{3, 3, 3})) << "a new drawing starts from the gray frame";
    // A new frame's gray, even one differing in a single byte, is painted afresh.
    c.gray[5] = 9;
    c.setPixel(0, 0, 10, 20, 30);
    c.renderGray();
    EXPECT_EQ(rgbOf(c, 2, 1), (std::array<uint8_t, 3>{9, 9, 9}));
    EXPECT_EQ(rgbOf(c, 0, 0), (std::array<uint8_t, 3>{1, 1, 1}));
}

TEST(CanvasDraw, NumberZeroOrNegativeDrawsNothing) {
    Canvas c = grayCanvas(16, 8, 200);
    const std::vector<uint8_t> before = c.rgb;
    c.drawNumber(5, 1, 0);
    c.drawNumber(5, 1, -7);
    EXPECT_EQ(c.rgb, before);
}

TEST(CanvasDraw, NumberReadsLeftToRightEndingAtTheGivenColumn) {
    Canvas c = grayCanvas(16, 8, 200);
    c.drawNumber(10, 0, 507);
    Pixels expected = glyphAt(7, 10, 0);
    expected.merge(glyphAt(0, 6, 0));
    expected.merge(glyphAt(5, 2, 0));
    EXPECT_EQ(blackPixels(c), expected);
    // Everything else keeps the gray.
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            if (!expected.count({x, y})) {
                ASSERT_EQ(rgbOf(c, x, y), (std::array<uint8_t, 3>{200, 200, 200}));
            }
        }
    }
}

TEST(CanvasDraw, NumberIsClippedPixelByPixel) {
    Canvas left = grayCanvas(8, 9, 200);
    left.drawNumber(0, 2, 42);  // the 4 would cover columns -4 to -2
    EXPECT_EQ(blackPixels(left), glyphAt(2, 0, 2));

    Canvas corner = grayCanvas(8, 9, 200);
    corner.drawNumber(6, 6, 8);  // columns 6..8 and rows 6..10 of which 6..7 and 6..8 exist
    Pixels expected;
    for (const auto& p : glyphAt(8, 6, 6)) {
        if (p.first < 8 && p.second < 9) expected.insert(p);
    }
    EXPECT_EQ(blackPixels(corner), expected);

    Canvas top = grayCanvas(8, 9, 200);
    top.drawNumber(2, -3, 1);  // rows -3..1: only the two lowest rows of the 1
    EXPECT_EQ(blackPixels(top), (Pixels{{3, 0}, {3, 1}}));
}

TEST(CanvasDraw, EveryDigitHasItsGlyph) {
    for (int d = 1; d <= 9; ++d) {
        Canvas c = grayCanvas(8, 7, 200);
        c.drawNumber(3, 1, d);
        EXPECT_EQ(blackPixels(c), glyphAt(d, 3, 1)) << "digit " << d;
    }
    // 0 alone draws nothing; 10 shows its glyph.
    Canvas c = grayCanvas(8, 7, 200);
    c.drawNumber(4, 1, 10);
    Pixels expected = glyphAt(0, 4, 1);
    expected.merge(glyphAt(1, 0, 1));
    EXPECT_EQ(blackPixels(c), expected);
}

TEST(CanvasDraw, OpaqueLineSetsExactlyItsPixels) {
    Canvas c = grayCanvas(12, 3, 100);
    c.drawLine(0, 0, 9, 0, 10, 20, 30, 1.0, 1.0);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            const std::array<uint8_t, 3> want =
                y == 0 && x <= 9 ? std::array<uint8_t, 3>{10, 20, 30} : std::array<uint8_t, 3>{100, 100, 100};
            EXPECT_EQ(rgbOf(c, x, y), want) << x << "," << y;
        }
    }
    Canvas vertical = grayCanvas(4, 5, 100);
    vertical.drawLine(2, 3, 2, 0, 0, 0, 255, 1.0, 1.0);
    for (int32_t y = 0; y < 5; ++y) {
        EXPECT_EQ(rgbOf(vertical, 2, y)[2], y <= 3 ? 255 : 100) << y;
        EXPECT_EQ(rgbOf(vertical, 1, y)[2], 100);
    }
}

TEST(CanvasDraw, TransparentLineChangesNothing) {
    Canvas c = grayCanvas(12, 3, 100);
    const std::vector<uint8_t> before = c.rgb;
    c.drawLine(0, 0, 9, 0, 10, 20, 30, 0.0, 0.0);
    EXPECT_EQ(c.rgb, before);
}

TEST(CanvasDraw, PointLineBlendsOnceWithStartOpacityAndTruncates) {
    Canvas c = grayCanvas(3, 3, 101);
    c.drawLine(1, 1, 1, 1, 200, 0, 50, 0.5, 1.0);
    // 101 * 0.5 + 200 * 0.5 = 150.5 -> 150; 101 * 0.5 = 50.5 -> 50; 50.5 + 25 = 75.5 -> 75.
    // A second blend or the end opacity would give other values.
    EXPECT_EQ(rgbOf(c, 1, 1), (std::array<uint8_t, 3>{150, 50, 75}));
    EXPECT_EQ(rgbOf(c, 0, 1), (std::array<uint8_t, 3>{101, 101, 101}));
}

TEST(CanvasDraw, LineOpacityRunsFromStartToEnd) {
    // Pixel x of the line (0,0)-(4,0) is first reached at t = x / 4, where the opacity is x / 4.
    Canvas c = grayCanvas(5, 1, 100);
    c.drawLine(0, 0, 4, 0, 200, 200, 200, 0.0, 1.0);
    const uint8_t want[5] = {100, 125, 150, 175, 200};
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(rgbOf(c, x, 0)[0], want[x]) << x;
}

// Random lines over a random canvas against the line as its definition draws it: 1,001 samples
// at t = k / 1000, each taken when its pixel differs from the sample before, with the opacity
// (1 - t) alphaStart + t alphaEnd.
TEST(CanvasDraw, RandomLinesBlendEachSampledPixelAsDefined) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 60), h = 1 + static_cast<int32_t>(rng() % 40);
        Canvas c = grayCanvas(w, h, 0);
        for (auto& v : c.rgb) v = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expected = c.rgb;
        const int32_t x0 = rng() % w, y0 = rng() % h, x1 = rng() % w, y1 = rng() % h;
        const uint8_t r = rng(), g = rng(), b = rng();
        const double from = (rng() % 101) / 100.0, to = (rng() % 101) / 100.0;
        int32_t lastX = -1, lastY = -1;
        for (int k = 0; k <= 1000; ++k) {
            const double t = k / 1000.0;
            const auto x = static_cast<int32_t>(x1 * t + x0 * (1 - t));
            const auto y = static_cast<int32_t>(y1 * t + y0 * (1 - t));
            if (x == lastX && y == lastY) continue;
            const double a = (1 - t) * from + t * to;
            uint8_t* p = &expected[3 * ((static_cast<size_t>(h) - 1 - y) * w + x)];
            p[0] = static_cast<uint8_t>(static_cast<int>(p[0] * (1 - a) + b * a));
            p[1] = static_cast<uint8_t>(static_cast<int>(p[1] * (1 - a) + g * a));
            p[2] = static_cast<uint8_t>(static_cast<int>(p[2] * (1 - a) + r * a));
            lastX = x;
            lastY = y;
        }
        c.drawLine(x0, y0, x1, y1, r, g, b, from, to);
        ASSERT_EQ(c.rgb, expected) << "trial " << trial << ": (" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1
                                   << ") on " << w << " x " << h;
    }
}

class CanvasBmp : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("vanto_bmp_" + std::to_string(getpid()) + "_" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::vector<uint8_t> readAll(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    }
    static uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }

    // A canvas whose every pixel has its own colour: r = 10 x + y, g = 100 + x, b = 200 + y.
    static Canvas colourful(int32_t w, int32_t h) {
        Canvas c;
        c.createCanvas(w, h);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                c.setPixel(x, y, static_cast<uint8_t>(10 * x + y), static_cast<uint8_t>(100 + x),
                           static_cast<uint8_t>(200 + y));
            }
        }
        return c;
    }

    static void expectBmp(const fs::path& path, int32_t w, int32_t h, uint32_t stride) {
        const std::vector<uint8_t> b = readAll(path);
        ASSERT_EQ(b.size(), 54 + stride * h);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(le32(b, 2), 54 + stride * h);
        EXPECT_EQ(le32(b, 6), 0u);
        EXPECT_EQ(le32(b, 10), 54u);
        EXPECT_EQ(le32(b, 14), 40u);
        EXPECT_EQ(le32(b, 18), static_cast<uint32_t>(w));
        EXPECT_EQ(le32(b, 22), static_cast<uint32_t>(h));
        EXPECT_EQ(le16(b, 26), 1u);
        EXPECT_EQ(le16(b, 28), 24u);
        EXPECT_EQ(le32(b, 30), 0u);
        EXPECT_EQ(le32(b, 34), stride * h);
        for (size_t at = 38; at < 54; at += 4) EXPECT_EQ(le32(b, at), 0u) << "header offset " << at;
        for (int32_t row = 0; row < h; ++row) {
            const int32_t y = h - 1 - row;  // the bottom image row comes first
            const size_t start = 54 + static_cast<size_t>(row) * stride;
            for (int32_t x = 0; x < w; ++x) {
                EXPECT_EQ(b[start + 3 * x], 200 + y) << x << "," << y;
                EXPECT_EQ(b[start + 3 * x + 1], 100 + x) << x << "," << y;
                EXPECT_EQ(b[start + 3 * x + 2], 10 * x + y) << x << "," << y;
            }
            for (size_t pad = 3 * w; pad < stride; ++pad) EXPECT_EQ(b[start + pad], 0) << "padding of row " << row;
        }
    }

    fs::path dir;
};

TEST_F(CanvasBmp, WidthFourHasNoPadding) {
    const Canvas c = colourful(4, 3);
    ASSERT_TRUE(c.writeBmp((dir / "w4.bmp").c_str()).ok());
    expectBmp(dir / "w4.bmp", 4, 3, 12);
}

TEST_F(CanvasBmp, RowsArePaddedWithZerosToAMultipleOfFour) {
    const Canvas c = colourful(5, 3);
    ASSERT_TRUE(c.writeBmp((dir / "w5.bmp").c_str()).ok());
    expectBmp(dir / "w5.bmp", 5, 3, 16);
    // Two and three padding bytes.
    ASSERT_TRUE(colourful(6, 2).writeBmp((dir / "w6.bmp").c_str()).ok());
    expectBmp(dir / "w6.bmp", 6, 2, 20);
    ASSERT_TRUE(colourful(7, 2).writeBmp((dir / "w7.bmp").c_str()).ok());
    expectBmp(dir / "w7.bmp", 7, 2, 24);
}

TEST_F(CanvasBmp, EmptyCanvasFailsWithoutAFile) {
    Canvas never;
    EXPECT_FALSE(never.writeBmp((dir / "none.bmp").c_str()).ok());
    Canvas flat;
    flat.createCanvas(4, 0);
    EXPECT_FALSE(flat.writeBmp((dir / "flat.bmp").c_str()).ok());
    EXPECT_FALSE(fs::exists(dir / "none.bmp"));
    EXPECT_FALSE(fs::exists(dir / "flat.bmp"));
}

TEST_F(CanvasBmp, MissingFolderFails) {
    const Canvas c = colourful(4, 3);
    EXPECT_FALSE(c.writeBmp((dir / "no" / "such.bmp").c_str()).ok());
}

TEST_F(CanvasBmp, WritingTwiceReplacesTheFile) {
    const fs::path path = dir / "again.bmp";
    ASSERT_TRUE(colourful(5, 3).writeBmp(path.c_str()).ok());
    ASSERT_TRUE(colourful(4, 2).writeBmp(path.c_str()).ok());
    expectBmp(path, 4, 2, 12);
}

// A canvas the memory limit cannot hold is refused (false, an empty canvas), not an abort.
TEST(CanvasMemory, ACanvasBeyondTheAddressSpaceLimitIsRefusedNotAborted) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#endif
    EXPECT_EQ(Canvas::bytesFor(1000, 500, false), 4 * 500000);
    EXPECT_EQ(Canvas::bytesFor(3, 2, true), 4 * 6 + 54 + 2 * 12);
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{rlim_t{512} << 20, rlim_t{512} << 20};
        setrlimit(RLIMIT_AS, &limit);
        Canvas big;
        const bool refused = !big.createCanvas(20000, 20000, true) && big.width == 0 && big.gray.empty();
        Canvas small;
        const bool fits = small.createCanvas(100, 80, true) && small.gray.size() == 8000;
        _exit(refused && fits ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vanto
