#include "image/png_inflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

namespace vanto {

namespace {

constexpr uint32_t kMaxChunkLength = 0x7fffffffu;  // the PNG limit
constexpr uint32_t kMaxAncillaryLength = 64u << 10;

uint32_t bigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool isType(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// The ancillary chunks the fast way passes over; libpng at most warns about any of them.
bool passedOver(const uint8_t* type) {
    for (const char* name : {"tEXt", "zTXt", "iTXt", "pHYs", "tIME", "gAMA", "cHRM"}) {
        if (isType(type, name)) return true;
    }
    return false;
}

// One decompressor a thread, made on its first use and kept.
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
libdeflate_decompressor* decompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
    return d.get();
}

// Reverses the filters row by row, in place: each row's filter byte is followed by its
// filtered bytes, which become the samples; the row above is already reconstructed.
bool unfilter(uint8_t* raw, size_t height, size_t rowBytes, size_t pixelBytes) {
    const size_t stride = rowBytes + 1;
    const uint8_t* above = nullptr;
    for (size_t y = 0; y < height; ++y) {
        uint8_t* row = raw + y * stride + 1;
        const uint8_t filter = row[-1];
        switch (filter) {
            case 0: break;
            case 1:
                for (size_t i = pixelBytes; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - pixelBytes]);
                break;
            case 2:
                if (above) {
                    for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
                }
                break;
            case 3:
                for (size_t i = 0; i < rowBytes; ++i) {
                    const unsigned left = i >= pixelBytes ? row[i - pixelBytes] : 0;
                    const unsigned up = above ? above[i] : 0;
                    row[i] = static_cast<uint8_t>(row[i] + ((left + up) >> 1));
                }
                break;
            case 4:
                for (size_t i = 0; i < rowBytes; ++i) {
                    const int a = i >= pixelBytes ? row[i - pixelBytes] : 0;
                    const int b = above ? above[i] : 0;
                    const int c = above && i >= pixelBytes ? above[i - pixelBytes] : 0;
                    const int pa = b > c ? b - c : c - b;            // |p - a| with p = a + b - c
                    const int pb = a > c ? a - c : c - a;            // |p - b|
                    const int pc = (a + b - 2 * c) < 0 ? 2 * c - a - b : a + b - 2 * c;  // |p - c|
                    const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    row[i] = static_cast<uint8_t>(row[i] + predicted);
                }
                break;
            default: return false;
        }
        above = row;
    }
    return true;
}

}  // namespace

bool inflateGrayPng(uint8_t* data, size_t size, uint64_t maxBytes, std::vector<uint8_t>& raw, InflatedPng& out) {
    // IHDR: length 13, the fields, the CRC over type and fields.
    if (size < 25 || bigEndian(data) != 13 || !isType(data + 4, "IHDR")) return false;
    if (crc32(0, data + 4, 17) != bigEndian(data + 21)) return false;
    const uint8_t* fields = data + 8;
    const uint32_t width = bigEndian(fields), height = bigEndian(fields + 4);
    const int bits = fields[8], colourType = fields[9];
    if (width == 0 || height == 0 || width > kPngFastMaxSide || height > kPngFastMaxSide) return false;
    if ((bits != 8 && bits != 16) || colourType != 0 || fields[10] != 0 || fields[11] != 0 || fields[12] != 0) {
        return false;
    }
    const size_t pixelBytes = static_cast<size_t>(bits / 8);
    const uint64_t rowBytes = uint64_t{width} * pixelBytes;
    const uint64_t rawBytes = (rowBytes + 1) * height;
    if (size > maxBytes || rawBytes > maxBytes - size) return false;

    // The chunks up to the end of the IDAT run; the IDAT data is moved together in place
    // (always to the left), starting where the first IDAT's data starts.
    size_t at = 25;
    uint8_t* idat = nullptr;
    size_t idatBytes = 0;
    while (true) {
        if (size - at < 12) {
            if (idat) break;  // the file ends after the run; libpng would stop there too
            return false;
        }
        const uint32_t length = bigEndian(data + at);
        const uint8_t* type = data + at + 4;
        if (length > kMaxChunkLength || length > size - at - 12) return false;
        const bool isIdat = isType(type, "IDAT");
        if (idat && !isIdat) break;  // the run has ended
        if (isIdat ? length > rawBytes : !passedOver(type) || length > kMaxAncillaryLength) return false;
        if (crc32(0, type, length + 4) != bigEndian(data + at + 8 + length)) return false;
        if (isIdat) {
            if (!idat) idat = data + at + 8;
            std::memmove(idat + idatBytes, data + at + 8, length);
            idatBytes += length;
        }
        at += 12 + size_t{length};
    }

    try {
        raw.resize(static_cast<size_t>(rawBytes));
    } catch (const std::bad_alloc&) {
        return false;
    }
    libdeflate_decompressor* d = decompressor();
    if (!d) return false;
    size_t usedIn = 0, madeOut = 0;
    if (libdeflate_zlib_decompress_ex(d, idat, idatBytes, raw.data(), raw.size(), &usedIn, &madeOut) !=
            LIBDEFLATE_SUCCESS ||
        usedIn != idatBytes || madeOut != raw.size()) {
        return false;
    }
    if (!unfilter(raw.data(), height, static_cast<size_t>(rowBytes), pixelBytes)) return false;
    if (bits == 16) {
        const uint16_t probe = 1;
        uint8_t first = 0;
        std::memcpy(&first, &probe, 1);
        if (first == 1) {  // samples in the host's order
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t* row = raw.data() + y * (rowBytes + 1) + 1;
                for (uint64_t i = 0; i < rowBytes; i += 2) std::swap(row[i], row[i + 1]);
            }
        }
    }
    out.width = width;
    out.height = height;
    out.bits = bits;
    out.rowBytes = static_cast<size_t>(rowBytes);
    out.rowStride = static_cast<size_t>(rowBytes + 1);
    out.rows = raw.data() + 1;
    return true;
}

}  // namespace vanto
