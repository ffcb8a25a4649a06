#pragma once
// Writers of the frame files the format tests need: TIFF pages of any sample type, and the
// hand-made "bomb" files whose headers declare far more than they hold.
#include <png.h>
#include <tiffio.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace vanto::testing {

// AddressSanitizer reserves terabytes of shadow memory, so an address-space limit cannot be set.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimitWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceLimitWorks = false;
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

struct TiffPage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 8;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint32_t rowsPerStrip = 0;  // 0: one strip
    uint32_t tile = 0;          // non-zero: square tiles of this size
    uint16_t compression = COMPRESSION_NONE;
    std::string description;
    float xResolution = 0;        // with yResolution the same; 0: no resolution tags
    uint16_t resolutionUnit = 0;  // 0: no ResolutionUnit tag
    std::vector<uint8_t> data;  // samples in host order, top row first
};

inline TiffPage grayPage(uint32_t width, uint32_t height, uint16_t bits = 8, uint16_t format = SAMPLEFORMAT_UINT) {
    TiffPage p;
    p.width = width;
    p.height = height;
    p.bits = bits;
    p.sampleFormat = format;
    return p;
}

// Samples of type T as the bytes of a page.
template <typename T>
std::vector<uint8_t> bytesOf(const std::vector<T>& samples) {
    std::vector<uint8_t> bytes(samples.size() * sizeof(T));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// mode: "w" plain, "w8" BigTIFF, "wb" big-endian, as TIFFOpen takes them.
inline bool writeTiffPages(const std::string& path, const std::vector<TiffPage>& pages, const char* mode = "w") {
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (!tif) return false;
    bool ok = true;
    for (const TiffPage& p : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.sampleFormat);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (!p.description.empty()) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, p.description.c_str());
        if (p.xResolution > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, p.xResolution);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, p.xResolution);
        }
        if (p.resolutionUnit) TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, p.resolutionUnit);
        const size_t rowBytes = static_cast<size_t>(p.width) * p.bits / 8;
        if (p.tile) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tile);
            const size_t pixelBytes = p.bits / 8;
            std::vector<uint8_t> tile(static_cast<size_t>(p.tile) * p.tile * pixelBytes);
            for (uint32_t ty = 0; ty < p.height; ty += p.tile) {
                for (uint32_t tx = 0; tx < p.width; tx += p.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t r = 0; r < p.tile && ty + r < p.height; ++r) {
                        const uint32_t n = std::min(p.tile, p.width - tx);
                        std::memcpy(&tile[r * p.tile * pixelBytes], &p.data[(ty + r) * rowBytes + tx * pixelBytes],
                                    n * pixelBytes);
                    }
                    ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) > 0;
                }
            }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip ? p.rowsPerStrip : p.height);
            std::vector<uint8_t> row(rowBytes);
            for (uint32_t y = 0; y < p.height; ++y) {
                std::memcpy(row.data(), &p.data[y * rowBytes], rowBytes);
                ok = ok && TIFFWriteScanline(tif, row.data(), y, 0) == 1;
            }
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

// A little-endian deflate TIFF of 8-bit gray declaring width x height in strips of rowsPerStrip rows
// (or square tiles of tile pixels), with a few bytes of data for every block.
inline std::vector<uint8_t> declaredTiff(uint32_t width, uint32_t height, uint32_t rowsPerStrip, uint32_t tile) {
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    std::vector<Entry> entries = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 8}, {262, 3, 1}};
    const uint32_t dataAt = 8;
    if (tile) {
        entries.insert(entries.end(), {{322, 4, tile}, {323, 4, tile}, {324, 4, dataAt}, {325, 4, 16}});
    } else {
        entries.insert(entries.end(), {{273, 4, dataAt}, {277, 3, 1}, {278, 4, rowsPerStrip}, {279, 4, 16}});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    std::vector<uint8_t> f = {'I', 'I', 42, 0};
    const auto put = [&](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(dataAt + 16, 4);          // the directory follows 16 data bytes
    f.insert(f.end(), 16, 0x55);  // the data
    put(entries.size(), 2);
    for (const Entry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, 4);
        put(e.value, e.type == 3 ? 2 : 4);
        if (e.type == 3) put(0, 2);
    }
    put(0, 4);
    return f;
}

// A PNG header declaring a width x height RGBA 16-bit interlaced image, one small IDAT.
inline std::vector<uint8_t> declaredInterlacedPng(uint32_t width, uint32_t height) {
    const auto crc = [](const uint8_t* p, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            c ^= p[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&](const char* type, std::vector<uint8_t> body) {
        const auto be = [&](uint32_t v) {
            for (int i = 3; i >= 0; --i) f.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        be(static_cast<uint32_t>(body.size()));
        body.insert(body.begin(), type, type + 4);
        f.insert(f.end(), body.begin(), body.end());
        be(crc(body.data(), body.size()));
    };
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height})
        for (int i = 3; i >= 0; --i) ihdr.push_back(static_cast<uint8_t>(v >> (8 * i)));
    ihdr.insert(ihdr.end(), {16, 6, 0, 0, 1});
    chunk("IHDR", ihdr);
    chunk("IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
    chunk("IEND", {});
    return f;
}

// A 16-bit gray PNG of host-order samples.
inline bool writeSixteenBitPng(const std::string& path, uint32_t width, uint32_t height,
                               const std::vector<uint16_t>& samples) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_LINEAR_Y;
    return png_image_write_to_file(&image, path.c_str(), 0, samples.data(), 0, nullptr) != 0;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vanto::testing
