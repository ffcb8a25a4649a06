#include "synthetic_series.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

// Only IEEE-exact operations (+, -, *, /, sqrt, floor) are used and never fused into
// multiply-adds (GCC in ISO mode does not fuse), so every platform renders the same bytes.
#ifdef __clang__
#pragma clang fp contract(off)
#endif

namespace vanto {

namespace {

// splitmix64: the generator of every random choice.
uint64_t nextRandom(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t hashOf(uint64_t x) { return nextRandom(x); }

double uniform(uint64_t& state, double lo, double hi) {
    const double unit = static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-53;
    return lo + (hi - lo) * unit;
}

// A random direction drawn by rejection from the square, so no trigonometry is needed.
void unitVector(uint64_t& state, double& x, double& y) {
    for (;;) {
        x = uniform(state, -1.0, 1.0);
        y = uniform(state, -1.0, 1.0);
        const double r2 = x * x + y * y;
        if (r2 > 0.01 && r2 <= 1.0) {
            const double r = std::sqrt(r2);
            x /= r;
            y /= r;
            return;
        }
    }
}

struct Cell {
    double x, y;            // centre
    double vx, vy;          // velocity, pixels per frame
    double driftX, driftY;  // velocity the walk relaxes to
    double a, b;            // semi-axes along (ux, uy) and across it
    double ux, uy;
    double radius;          // sqrt(a b), the pixel scale of the edge
    double harm2, harm3;    // irregularity: amplitudes of the 2nd and 3rd angular harmonics
    double p2x, p2y, p3x, p3y;
    double gray;            // centre gray value
    double margin;          // the centre stays this far inside the frame
    uint64_t walk;          // random stream of the walk
    int32_t id;             // the cell's number in the label images
};

constexpr int kTouchingEvery = 6;  // every 6th cell starts touching the cell before it

std::vector<Cell> initialCells(const SeriesParams& p) {
    std::vector<Cell> cells(static_cast<size_t>(std::max(p.cellCount, 0)));
    const double w = p.width;
    const double h = p.height;
    const double minRadius = std::max(1, p.minRadius);
    const double maxRadius = std::max(static_cast<double>(p.maxRadius), minRadius);
    for (size_t i = 0; i < cells.size(); ++i) {
        Cell& c = cells[i];
        uint64_t s = hashOf(p.seed ^ hashOf(i + 1));
        c.radius = uniform(s, minRadius, maxRadius);
        const double elongation = uniform(s, 0.0, 0.35);
        c.a = c.radius * (1 + elongation);
        c.b = c.radius / (1 + elongation);
        unitVector(s, c.ux, c.uy);
        c.harm2 = uniform(s, 0.0, 0.12);
        c.harm3 = uniform(s, 0.0, 0.08);
        unitVector(s, c.p2x, c.p2y);
        unitVector(s, c.p3x, c.p3y);
        c.gray = uniform(s, 45.0, 75.0);
        c.margin = 0.5 * c.radius;
        double dx = 0;
        double dy = 0;
        unitVector(s, dx, dy);
        const double speed = uniform(s, 0.2, 1.0);
        c.driftX = dx * speed;
        c.driftY = dy * speed;
        const double xLo = c.margin, xHi = std::max(w - 1 - c.margin, xLo);
        const double yLo = c.margin, yHi = std::max(h - 1 - c.margin, yLo);
        if (i % kTouchingEvery == kTouchingEvery - 1) {
            const Cell& leader = cells[i - 1];
            unitVector(s, dx, dy);
            const double gap = 0.95 * (leader.radius + c.radius);
            c.x = std::clamp(leader.x + dx * gap, xLo, xHi);
            c.y = std::clamp(leader.y + dy * gap, yLo, yHi);
            c.driftX = leader.driftX;
            c.driftY = leader.driftY;
        } else {
            c.x = uniform(s, xLo, xHi);
            c.y = uniform(s, yLo, yHi);
        }
        c.vx = c.driftX;
        c.vy = c.driftY;
        c.walk = hashOf(s ^ 0x5851F42D4C957F2Dull);
        c.id = static_cast<int32_t>(i) + 1;
    }
    return cells;
}

// A cell that divides: in frame `frame` the cell numbered `mother` is replaced by daughters
// numbered firstDaughter and firstDaughter + 1.
struct Division {
    int32_t frame, mother, firstDaughter;
};

std::vector<Division> divisionsOf(const SeriesParams& p) {
    std::vector<Division> out;
    const int32_t count = std::clamp(p.divisions, 0, std::max(p.cellCount, 0));
    const int32_t span = std::max(p.frameCount - 4, 1);
    for (int32_t i = 0; i < count; ++i) {
        uint64_t s = hashOf(p.seed ^ hashOf(0xD1F1DE00ull + static_cast<uint64_t>(i)));
        out.push_back({3 + static_cast<int32_t>(nextRandom(s) % static_cast<uint64_t>(span)), i + 1,
                       p.cellCount + 2 * i + 1});
    }
    return out;
}

// The two daughters of m, each of half its area, side by side along m's long axis and just
// overlapping (a neck between them), drifting apart.
void divide(const Cell& m, int32_t firstDaughter, double w, double h, Cell out[2]) {
    for (int32_t j = 0; j < 2; ++j) {
        const double side = j == 0 ? -1.0 : 1.0;
        Cell d = m;
        d.radius = m.radius * 0.7071;
        d.a = d.radius * 1.1;
        d.b = d.radius / 1.1;
        d.ux = -m.uy;  // long axis across the division axis
        d.uy = m.ux;
        d.harm2 = 0.5 * m.harm2;
        d.harm3 = 0.5 * m.harm3;
        d.margin = 0.5 * d.radius;
        d.x = std::clamp(m.x + side * m.ux * 0.8 * d.radius, d.margin, std::max(w - 1 - d.margin, d.margin));
        d.y = std::clamp(m.y + side * m.uy * 0.8 * d.radius, d.margin, std::max(h - 1 - d.margin, d.margin));
        d.driftX = m.driftX + side * m.ux * 0.5;
        d.driftY = m.driftY + side * m.uy * 0.5;
        d.vx = d.driftX;
        d.vy = d.driftY;
        d.walk = hashOf(m.walk ^ (0xA0761D6478BD642Full * static_cast<uint64_t>(j + 1)));
        d.id = firstDaughter + j;
        out[j] = d;
    }
}

// Debris: still dark specks, the same in every frame.
struct Speck {
    double x, y, r, depth;
};

std::vector<Speck> specksOf(const SeriesParams& p) {
    std::vector<Speck> out;
    for (int32_t k = 0; k < p.debris; ++k) {
        uint64_t s = hashOf(p.seed ^ hashOf(0xDEB215ull + static_cast<uint64_t>(k)));
        Speck sp{};
        sp.x = uniform(s, 0.0, p.width - 1.0);
        sp.y = uniform(s, 0.0, p.height - 1.0);
        sp.r = uniform(s, 0.8, 2.0);
        sp.depth = uniform(s, 20.0, 45.0);
        out.push_back(sp);
    }
    return out;
}

// Mirrors a coordinate that left [lo, hi] back inside; the motion along it turns round.
void reflect(double& pos, double& velocity, double& drift, double lo, double hi) {
    if (hi <= lo) {
        pos = lo;
        return;
    }
    if (pos < lo) {
        pos = std::min(2 * lo - pos, hi);
    } else if (pos > hi) {
        pos = std::max(2 * hi - pos, lo);
    } else {
        return;
    }
    velocity = -velocity;
    drift = -drift;
}

void stepCell(Cell& c, double w, double h) {
    c.vx = 0.7 * c.vx + 0.3 * c.driftX + uniform(c.walk, -0.8, 0.8);
    c.vy = 0.7 * c.vy + 0.3 * c.driftY + uniform(c.walk, -0.8, 0.8);
    c.x += c.vx;
    c.y += c.vy;
    reflect(c.x, c.vx, c.driftX, c.margin, w - 1 - c.margin);
    reflect(c.y, c.vy, c.driftY, c.margin, h - 1 - c.margin);
}

struct Background {
    double base, slopeX, slopeY, bowl, bowlX, bowlY;
};

Background backgroundOf(const SeriesParams& p) {
    uint64_t s = hashOf(p.seed ^ 0xB5AD4ECEDA1CE2A9ull);
    Background bg{};
    bg.base = uniform(s, 190.0, 200.0);
    bg.slopeX = uniform(s, -16.0, 16.0);
    bg.slopeY = uniform(s, -16.0, 16.0);
    bg.bowl = uniform(s, -5.0, 5.0);
    bg.bowlX = uniform(s, 0.3, 0.7);
    bg.bowlY = uniform(s, 0.3, 0.7);
    return bg;
}

// Opacity of a cell at signed distance d (pixels, negative inside) from its outline: a smooth
// step 3 pixels wide.
double coverageAt(double d) {
    const double t = std::clamp((d + 1.5) / 3.0, 0.0, 1.0);
    return 1.0 - t * t * (3.0 - 2.0 * t);
}

}  // namespace

std::vector<int32_t> syntheticParents(const SeriesParams& p) {
    const std::vector<Division> divisions = divisionsOf(p);
    std::vector<int32_t> parents(static_cast<size_t>(std::max(p.cellCount, 0)) + 2 * divisions.size() + 1, 0);
    for (const Division& d : divisions) parents[d.firstDaughter] = parents[d.firstDaughter + 1] = d.mother;
    return parents;
}

void renderSyntheticFrame(const SeriesParams& p, int32_t frameNumber, uint8_t* out, uint16_t* labels) {
    if (p.width <= 0 || p.height <= 0) return;
    const double w = p.width;
    const double h = p.height;
    std::vector<Cell> cells = initialCells(p);
    const std::vector<Division> divisions = divisionsOf(p);
    for (int32_t k = 1; k < frameNumber; ++k) {
        for (Cell& c : cells) stepCell(c, w, h);
        for (const Division& d : divisions) {
            if (d.frame != k + 1) continue;
            const auto mother =
                std::find_if(cells.begin(), cells.end(), [&](const Cell& c) { return c.id == d.mother; });
            Cell daughters[2];
            divide(*mother, d.firstDaughter, w, h, daughters);
            *mother = daughters[0];
            cells.insert(mother + 1, daughters[1]);
        }
    }

    const size_t pixels = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
    std::vector<double> cover(pixels, 0.0);
    std::vector<double> tone(pixels, 0.0);
    std::vector<int32_t> owner(labels ? pixels : 0, 0);
    for (const Cell& c : cells) {
        const double reach = c.a * (1 + c.harm2 + c.harm3) + 2;
        const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(c.x - reach)));
        const int32_t x1 = std::min(p.width - 1, static_cast<int32_t>(std::floor(c.x + reach)) + 1);
        const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(c.y - reach)));
        const int32_t y1 = std::min(p.height - 1, static_cast<int32_t>(std::floor(c.y + reach)) + 1);
        for (int32_t y = y0; y <= y1; ++y) {
            for (int32_t x = x0; x <= x1; ++x) {
                const double dx = x - c.x;
                const double dy = y - c.y;
                const double un = (dx * c.ux + dy * c.uy) / c.a;
                const double vn = (dy * c.ux - dx * c.uy) / c.b;
                const double rho = std::sqrt(un * un + vn * vn);
                const double cs = rho > 0 ? un / rho : 1.0;
                const double sn = rho > 0 ? vn / rho : 0.0;
                // cos 2t, sin 2t, cos 3t, sin 3t of the direction from its cosine and sine.
                const double shape = 1 + c.harm2 * ((cs * cs - sn * sn) * c.p2x + 2 * cs * sn * c.p2y) +
                                     c.harm3 * ((4 * cs * cs * cs - 3 * cs) * c.p3x + (3 * sn - 4 * sn * sn * sn) * c.p3y);
                const double dn = rho / shape;
                const double f = coverageAt((dn - 1) * c.radius);
                const size_t at = static_cast<size_t>(y) * p.width + x;
                if (f > cover[at]) {
                    cover[at] = f;
                    const double inner = std::min(dn, 1.0);
                    tone[at] = c.gray + 12 * inner * inner;
                    if (labels) owner[at] = c.id;
                }
            }
        }
    }
    if (labels) {
        for (size_t at = 0; at < pixels; ++at) labels[at] = static_cast<uint16_t>(cover[at] >= 0.5 ? owner[at] : 0);
    }

    // How much darker each pixel of the background is for the debris on it.
    std::vector<double> speckDepth(p.debris > 0 ? pixels : 0, 0.0);
    for (const Speck& s : specksOf(p)) {
        const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(s.x - s.r - 2)));
        const int32_t x1 = std::min(p.width - 1, static_cast<int32_t>(std::floor(s.x + s.r + 2)));
        const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(s.y - s.r - 2)));
        const int32_t y1 = std::min(p.height - 1, static_cast<int32_t>(std::floor(s.y + s.r + 2)));
        for (int32_t y = y0; y <= y1; ++y) {
            for (int32_t x = x0; x <= x1; ++x) {
                const double dx = x - s.x, dy = y - s.y;
                const double t = std::clamp((std::sqrt(dx * dx + dy * dy) - s.r + 0.75) / 1.5, 0.0, 1.0);
                const double depth = s.depth * (1.0 - t * t * (3.0 - 2.0 * t));
                double& at = speckDepth[static_cast<size_t>(y) * p.width + x];
                at = std::max(at, depth);
            }
        }
    }

    const Background bg = backgroundOf(p);
    const uint64_t frameKey = hashOf(p.seed ^ hashOf(0xF00Dull + static_cast<uint64_t>(frameNumber)));
    const int32_t noiseAmplitude = std::max(p.noise, 0);
    const uint64_t noiseRange = 2 * static_cast<uint64_t>(noiseAmplitude) + 1;
    for (int32_t y = 0; y < p.height; ++y) {
        const double fy = (h > 1 ? y / (h - 1) : 0.5) - 0.5;
        const double by = y / h - bg.bowlY;
        for (int32_t x = 0; x < p.width; ++x) {
            const double fx = (w > 1 ? x / (w - 1) : 0.5) - 0.5;
            const double bx = x / w - bg.bowlX;
            const size_t at = static_cast<size_t>(y) * p.width + x;
            double back = bg.base + bg.slopeX * fx + bg.slopeY * fy + bg.bowl * (1 - 2 * (bx * bx + by * by));
            if (p.debris > 0) back -= speckDepth[at];
            const double value = back * (1 - cover[at]) + tone[at] * cover[at];
            const uint64_t noiseBits = hashOf(frameKey + at);
            const int32_t noise = static_cast<int32_t>(noiseBits % noiseRange) +
                                  static_cast<int32_t>((noiseBits >> 32) % noiseRange) - 2 * noiseAmplitude;
            const int32_t v = static_cast<int32_t>(std::floor(value + 0.5)) + noise;
            out[at] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
}

int32_t suggestedThreshold(const SeriesParams& p) {
    // Noise dips reach 4 x noise levels at most (12 by default); cells lie 90 and more below
    // the background.
    return std::max(20, 4 * p.noise + 8);
}

int32_t suggestedSmallCellArea(const SeriesParams& p) {
    // Half the area of the smallest cell: fragments below it are flagged small.
    const double r = std::max(1, p.minRadius);
    return static_cast<int32_t>(3.1415927 * r * r / 2);
}

namespace {

// libpng reports errors by longjmp; writePngRows holds no objects with destructors.
[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void pngWarning(png_structp, png_const_charp) {}

bool writePngRows(png_structp png, png_infop info, std::FILE* file, int32_t width, int32_t height,
                  const uint8_t* pixels) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y) {
        png_write_row(png, pixels + static_cast<size_t>(y) * static_cast<size_t>(width));
    }
    png_write_end(png, nullptr);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int silentTiffHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Writes rows of samplesBits-bit gray pixels; false on any failure.
bool writeTiffRows(const char* path, int32_t width, int32_t height, int bits, const uint8_t* rows, size_t rowBytes) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return false;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, silentTiffHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, silentTiffHandler, nullptr);
    TIFF* tif = TIFFOpenExt(path, "w", opts);
    TIFFOpenOptionsFree(opts);
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    bool ok = true;
    for (int32_t y = 0; y < height && ok; ++y) {
        ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(rows + static_cast<size_t>(y) * rowBytes),
                               static_cast<uint32_t>(y), 0) == 1;
    }
    ok = TIFFFlush(tif) == 1 && ok;
    TIFFClose(tif);
    return ok;
}

}  // namespace

bool writeGrayPng(const char* path, int32_t width, int32_t height, const uint8_t* pixels) {
    if (width <= 0 || height <= 0) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    const bool written = info && writePngRows(png, info, file.get(), width, height, pixels);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return written && std::fflush(file.get()) == 0 && !std::ferror(file.get());
}

bool writeGrayTiff(const char* path, int32_t width, int32_t height, const uint8_t* pixels) {
    if (width <= 0 || height <= 0) return false;
    return writeTiffRows(path, width, height, 8, pixels, static_cast<size_t>(width));
}

bool writeLabelTiff(const char* path, int32_t width, int32_t height, const uint16_t* labels) {
    if (width <= 0 || height <= 0) return false;
    const auto* rows = reinterpret_cast<const uint8_t*>(labels);
    return writeTiffRows(path, width, height, 16, rows, 2 * static_cast<size_t>(width));
}

}  // namespace vanto
