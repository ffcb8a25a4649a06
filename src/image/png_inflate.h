#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vanto {

// The fast way through a plain gray PNG: the whole file in memory, its image data inflated at
// once (libdeflate) and unfiltered here. It takes only what it can check completely and
// declines everything else, which libpng then reads as before, so every file it takes is one
// libpng reads without a complaint into the same samples, and every message about a broken
// file is still libpng's own.
//
// Taken: 8- or 16-bit gray, not interlaced, the signature already read, IHDR first with every
// field valid and sides up to kPngFastMaxSide, then only the ancillary chunks tEXt, zTXt,
// iTXt, pHYs, tIME, gAMA and cHRM (each up to 64 KiB; libpng's simplified writer puts the last
// two into 16-bit gray files), then one unbroken run of IDAT chunks, each no longer than
// the image's raw size; every chunk's CRC right; one zlib stream that fills the raw image to
// the byte with the IDAT data used up, its checksum right; filter types 0 to 4. What follows the
// IDAT run is not read (libpng does not read it either when it decodes the rows).
//
// The one known difference: a deflate stream whose Huffman code is incomplete but never uses
// its missing codes inflates here, while zlib refuses it as an invalid code set.
struct InflatedPng {
    uint32_t width = 0;
    uint32_t height = 0;
    int bits = 0;          // 8 or 16
    size_t rowBytes = 0;   // samples of one row
    size_t rowStride = 0;  // rowBytes + 1: each row keeps its filter byte in front
    uint8_t* rows = nullptr;  // row y at rows + y * rowStride; 16-bit samples in the host's order
};

// What the fast way needs before it can decide: the image's declared facts.
struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int bits = 0;
    int colourType = 0;
    int interlace = 0;
};

constexpr uint32_t kPngFastMaxSide = 1000000;

// data: the file after its 8-byte signature. True when taken: out describes the image, its
// rows inside raw (resized to fit; the caller bounds data.size() + raw size through
// maxBytes). False when declined; raw may have been changed.
bool inflateGrayPng(uint8_t* data, size_t size, uint64_t maxBytes, std::vector<uint8_t>& raw, InflatedPng& out);

}  // namespace vanto
