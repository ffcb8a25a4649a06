#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "image/frame_decode.h"

namespace vanto {

namespace {

// libtiff's messages of one handle, kept for the reason of a failure.
struct TiffMessages {
    std::string firstError;
    std::string firstWarning;  // kept for the chain of pages only: libtiff warns of a loop
};

int keepTiffError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages && messages->firstError.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        messages->firstError = text;
        std::replace(messages->firstError.begin(), messages->firstError.end(), '\n', ' ');
    }
    return 1;
}

int keepTiffWarning(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages && messages->firstWarning.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        messages->firstWarning = text;
        std::replace(messages->firstWarning.begin(), messages->firstWarning.end(), '\n', ' ');
    }
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* opts) const { TIFFOpenOptionsFree(opts); }
};

using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens fd (taken over) with libtiff, its messages going to messages, single allocations
// capped; null on failure.
TiffHandle openTiff(int fd, const char* path, TiffMessages& messages) {
    std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) {
        ::close(fd);
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), keepTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), keepTiffWarning, &messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), static_cast<tmsize_t>(kMaxDecodedBytes));
    TIFF* tif = TIFFFdOpenExt(fd, path, "r", opts.get());
    if (!tif) ::close(fd);
    return TiffHandle(tif);
}

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

// Chooses how a TIFF pixel becomes a source value; a non-empty result names why it cannot.
std::string classifyTiff(TIFF* tif, FrameFacts& facts, SampleType& type, PixelKind& kind) {
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t photometric = 0;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    facts.bits = bits;
    facts.samplesPerPixel = samples;
    facts.floating = sampleFormat == SAMPLEFORMAT_IEEEFP;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        return "TIFF without a photometric interpretation is not supported";
    }
    const std::string name = photometricName(photometric);
    facts.colour = name;
    if (sampleFormat == SAMPLEFORMAT_IEEEFP && bits == 32) {
        type = SampleType::f32;
    } else if (sampleFormat == SAMPLEFORMAT_IEEEFP || sampleFormat == SAMPLEFORMAT_COMPLEXIEEEFP) {
        return std::to_string(bits) + "-bit floating-point " + name + " samples are not supported";
    } else if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) {
        return "signed " + name + " samples are not supported";
    } else if (bits == 8) {
        type = SampleType::u8;
    } else if (bits == 16) {
        type = SampleType::u16;
    } else {
        return std::to_string(bits) + "-bit " + name + " samples are not supported";
    }
    if (!TIFFIsCODECConfigured(compression)) {
        return "TIFF compression " + std::to_string(compression) + " is not supported";
    }
    const std::string depth = std::to_string(bits) + "-bit ";
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            if (samples == 1 || samples == 2) {
                kind = PixelKind::stored;
                return {};
            }
            break;
        case PHOTOMETRIC_PALETTE:
            if (samples == 1 && type == SampleType::u8) {
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
        default: return depth + name + " images are not supported";
    }
    return depth + name + " with " + std::to_string(samples) + " samples per pixel is not supported";
}

// Decoded blocks (strips or tiles) of the planes in use: plane k's block at block + k * blockSize.
struct TiffGeometry {
    int32_t samples;     // samples per pixel
    int32_t sampleBytes; // bytes per sample
    bool separate;       // one plane per sample
    int32_t planesUsed;  // planes read per block
    int32_t step;        // samples from one pixel to the next inside a block row
    SampleType type;
    PixelKind kind;
};

void convertBlockRow(const TiffGeometry& g, const uint8_t* rowStart, tmsize_t blockSize, int32_t pixel, float* dst,
                     int32_t n) {
    const uint8_t* plane[3];
    for (int32_t k = 0; k < 3; ++k) {
        plane[k] = g.separate ? rowStart + std::min(k, g.planesUsed - 1) * blockSize +
                                    static_cast<size_t>(pixel) * g.sampleBytes
                              : rowStart + (static_cast<size_t>(pixel) * g.samples + std::min(k, g.samples - 1)) *
                                               g.sampleBytes;
    }
    pixelValues(g.type, g.kind, plane, g.step, dst, n);
}

// a x b x c, or UINT64_MAX when that would not fit.
uint64_t cappedProduct(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t ab = 0;
    uint64_t abc = 0;
    if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc)) return UINT64_MAX;
    return abc;
}

std::string brokenData(const TiffMessages& messages) {
    return messages.firstError.empty() ? "broken TIFF image data" : "broken TIFF image data: " + messages.firstError;
}

Status readStrips(TIFF* tif, const TiffGeometry& g, uint32_t imageHeight, const DecodeTarget& t,
                      std::vector<uint8_t>& block, const TiffMessages& messages) {
    uint32_t rowsPerStrip = imageHeight;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > imageHeight) rowsPerStrip = imageHeight;
    const uint64_t rowSize = TIFFScanlineSize64(tif);
    if (rowSize == 0) return loadFailure(StatusCode::undecodable, brokenData(messages));
    uint64_t stripSize = cappedProduct(rowSize, rowsPerStrip, g.planesUsed);
    if (stripSize > kMaxDecodedBytes) return tooLarge("a strip", stripSize);
    stripSize /= g.planesUsed;
    block.resize(stripSize * g.planesUsed);
    const tmsize_t blockSize = static_cast<tmsize_t>(stripSize);
    const uint32_t windowEnd = static_cast<uint32_t>(t.originY) + static_cast<uint32_t>(t.height);
    for (uint32_t first = static_cast<uint32_t>(t.originY) / rowsPerStrip * rowsPerStrip; first < windowEnd;
         first += rowsPerStrip) {
        const uint32_t rowBegin = std::max(first, static_cast<uint32_t>(t.originY));
        const uint32_t rowEnd = std::min(first + rowsPerStrip, windowEnd);
        for (int32_t k = 0; k < g.planesUsed; ++k) {
            const tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, first, static_cast<uint16_t>(k)),
                                                      block.data() + k * blockSize, blockSize);
            if (got < static_cast<tmsize_t>((rowEnd - first) * rowSize))
                return loadFailure(StatusCode::undecodable, brokenData(messages));
        }
        for (uint32_t row = rowBegin; row < rowEnd; ++row) {
            convertBlockRow(g, block.data() + (row - first) * rowSize, blockSize, t.originX,
                            t.values + static_cast<size_t>(row - t.originY) * t.width, t.width);
        }
    }
    return {};
}

Status readTiles(TIFF* tif, const TiffGeometry& g, const DecodeTarget& t, std::vector<uint8_t>& block,
                     const TiffMessages& messages) {
    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    const uint64_t rowSize = TIFFTileRowSize64(tif);
    if (tileWidth == 0 || tileHeight == 0 || rowSize == 0)
        return loadFailure(StatusCode::undecodable, brokenData(messages));
    uint64_t tileSize = cappedProduct(rowSize, tileHeight, g.planesUsed);
    if (tileSize > kMaxDecodedBytes) return tooLarge("a tile", tileSize);
    tileSize /= g.planesUsed;
    block.resize(tileSize * g.planesUsed);
    const tmsize_t blockSize = static_cast<tmsize_t>(tileSize);
    const uint32_t xBegin = static_cast<uint32_t>(t.originX);
    const uint32_t yBegin = static_cast<uint32_t>(t.originY);
    const uint32_t xEnd = xBegin + static_cast<uint32_t>(t.width);
    const uint32_t yEnd = yBegin + static_cast<uint32_t>(t.height);
    for (uint32_t ty = yBegin / tileHeight * tileHeight; ty < yEnd; ty += tileHeight) {
        for (uint32_t tx = xBegin / tileWidth * tileWidth; tx < xEnd; tx += tileWidth) {
            for (int32_t k = 0; k < g.planesUsed; ++k) {
                const tmsize_t got = TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, static_cast<uint16_t>(k)),
                                                         block.data() + k * blockSize, blockSize);
                if (got != blockSize) return loadFailure(StatusCode::undecodable, brokenData(messages));
            }
            const uint32_t colBegin = std::max(tx, xBegin);
            const uint32_t colEnd = std::min(tx + tileWidth, xEnd);
            for (uint32_t row = std::max(ty, yBegin); row < std::min(ty + tileHeight, yEnd); ++row) {
                convertBlockRow(g, block.data() + (row - ty) * rowSize, blockSize, static_cast<int32_t>(colBegin - tx),
                                t.values + static_cast<size_t>(row - yBegin) * t.width + (colBegin - xBegin),
                                static_cast<int32_t>(colEnd - colBegin));
            }
        }
    }
    return {};
}

// The value of key=N in an ImageJ description, or 1.
int32_t imageJField(const std::string& description, const char* key) {
    const std::string word = std::string("\n") + key + "=";
    const size_t at = ("\n" + description).find(word);
    if (at == std::string::npos) return 1;
    const long v = std::strtol(description.c_str() + at + word.size() - 1, nullptr, 10);
    return v < 1 || v > INT32_MAX ? 1 : static_cast<int32_t>(v);
}

}  // namespace

// The open file, what identifies it (device, inode, size and change time when it was opened),
// the page it stands at and its messages (libtiff's error handler writes into them).
struct TiffCursor {
    TiffMessages messages;
    TiffHandle tif;
    struct stat identity {};
    int32_t page = 0;
};

void TiffCursorFree::operator()(TiffCursor* cursor) const { delete cursor; }

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Brings cursor to page of the file open on fd (taken over): by stepping on from the page it
// stands at when it holds the same file at an earlier page, else from a fresh handle (which
// walks from page 0). Empty on success.
std::string seekPage(int fd, const char* path, int32_t page, TiffCursorHandle& cursor) {
    struct stat identity {};
    const bool known = ::fstat(fd, &identity) == 0;
    if (known && cursor && page > cursor->page && sameFile(identity, cursor->identity)) {
        ::close(fd);
        cursor->messages.firstError.clear();
        while (cursor->page < page) {
            if (!TIFFReadDirectory(cursor->tif.get())) return "the TIFF file has no page " + std::to_string(page + 1);
            ++cursor->page;
        }
        return {};
    }
    cursor.reset(new TiffCursor);
    cursor->identity = identity;
    cursor->tif = openTiff(fd, path, cursor->messages);
    if (!cursor->tif) {
        return cursor->messages.firstError.empty() ? "not a readable TIFF file"
                                                   : "not a readable TIFF file: " + cursor->messages.firstError;
    }
    if (!known) {
        // A file that cannot be identified is not kept for the next page.
        cursor->identity.st_ino = 0;
        cursor->identity.st_dev = 0;
    }
    if (page > 0 && !TIFFSetDirectory(cursor->tif.get(), static_cast<tdir_t>(page)))
        return "the TIFF file has no page " + std::to_string(page + 1);
    cursor->page = page;
    return {};
}

Status readOpenPage(TIFF* tif, const DecodeTarget& target, DecodeScratch& scratch, FrameFacts& facts,
                    const TiffMessages& messages);

}  // namespace

Status readTiffWindow(int fd, const char* path, int32_t page, const DecodeTarget& target, DecodeScratch& scratch,
                      FrameFacts& facts, TiffCursorHandle& cursor) {
    if (std::string why = seekPage(fd, path, page, cursor); !why.empty()) {
        cursor.reset();
        return loadFailure(StatusCode::undecodable, why);
    }
    Status read = readOpenPage(cursor->tif.get(), target, scratch, facts, cursor->messages);
    // Kept only while a later page can follow: a single frame file (or a stack's last page)
    // gives its handle and buffers back at once.
    if (read.code != StatusCode::ok || TIFFLastDirectory(cursor->tif.get())) cursor.reset();
    return read;
}

namespace {

Status readOpenPage(TIFF* tif, const DecodeTarget& target, DecodeScratch& scratch, FrameFacts& facts,
                    const TiffMessages& messages) {
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &imageWidth) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &imageHeight)) {
        return loadFailure(StatusCode::undecodable, "TIFF file without image size");
    }
    facts.width = imageWidth;
    facts.height = imageHeight;
    TiffGeometry g{};
    if (std::string why = classifyTiff(tif, facts, g.type, g.kind); !why.empty()) {
        return loadFailure(StatusCode::unsupportedFormat, why);
    }
    if (Status r = checkWindow(target, imageWidth, imageHeight); r.code != StatusCode::ok) return r;

    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    g.samples = facts.samplesPerPixel;
    g.sampleBytes = facts.bits / 8;
    g.separate = planar == PLANARCONFIG_SEPARATE && g.samples > 1;
    g.planesUsed = g.separate ? (g.kind == PixelKind::luma ? 3 : 1) : 1;
    g.step = g.separate ? 1 : g.samples;
    if (target.width == 0 || target.height == 0) return {};
    return TIFFIsTiled(tif) ? readTiles(tif, g, target, scratch.block, messages)
                                  : readStrips(tif, g, imageHeight, target, scratch.block, messages);
}

}  // namespace

bool isTiffFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    uint8_t magic[4] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool read = regular && ::read(fd, magic, sizeof magic) == sizeof magic;
    ::close(fd);
    return read && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
                    (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43)));
}

std::string describeTiffStack(const char* path, StackLayout& layout) {
    if (!isTiffFile(path)) return "not a TIFF file";
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::error_code(errno, std::generic_category()).message();
    TiffMessages messages;
    TiffHandle tif = openTiff(fd, path, messages);
    if (!tif) return "not a readable TIFF file" + (messages.firstError.empty() ? "" : ": " + messages.firstError);
    const char* description = nullptr;
    std::string text;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEDESCRIPTION, &description) && description) text = description;
    // libtiff stops counting at a page it cannot reach (a link past the end of the file, a
    // broken page: an error) or one it has seen (a loop: a warning).
    messages.firstError.clear();
    messages.firstWarning.clear();
    layout.pages = static_cast<int32_t>(std::min<tdir_t>(TIFFNumberOfDirectories(tif.get()), INT32_MAX));
    layout.chainBreak = messages.firstError.empty() ? messages.firstWarning : messages.firstError;
    layout.channels = 1;
    layout.slices = 1;
    if (text.rfind("ImageJ=", 0) == 0) {
        layout.channels = imageJField(text, "channels");
        layout.slices = imageJField(text, "slices");
    }
    return {};
}

}  // namespace vanto
