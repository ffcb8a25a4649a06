#pragma once
// The frame-loader fuzz input: a window prefix, then the frame file's bytes. Shared by the
// harness, the seed generator and the regression tests, so that a saved input replays as found.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vanto::fuzz {

// Prefix layout, little-endian: originX (int16), originY (int16), width (uint8), height (uint8),
// the inner window's offset inside the first one (uint8 dx, uint8 dy), the TIFF page (uint8,
// taken modulo 4) and the range (uint8, modulo the entries of kRanges; 0 = no range).
constexpr size_t kWindowPrefixBytes = 10;

struct Range {
    bool has;
    double low, high;
};
constexpr Range kRanges[] = {{false, 0, 0}, {true, 0, 65535}, {true, 0, 1}, {true, -1000, 1000.5}, {true, 1e-30, 1e30}};

struct FrameInput {
    int32_t originX = 0;
    int32_t originY = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t innerDx = 0;
    int32_t innerDy = 0;
    int32_t page = 0;
    Range range{false, 0, 0};
    const uint8_t* file = nullptr;
    size_t fileSize = 0;
};

// False when the input is shorter than the prefix.
inline bool splitFrameInput(const uint8_t* data, size_t size, FrameInput& in) {
    if (size < kWindowPrefixBytes) return false;
    in.originX = static_cast<int16_t>(data[0] | data[1] << 8);
    in.originY = static_cast<int16_t>(data[2] | data[3] << 8);
    in.width = data[4];
    in.height = data[5];
    in.innerDx = data[6];
    in.innerDy = data[7];
    in.page = data[8] % 4;
    in.range = kRanges[data[9] % (sizeof kRanges / sizeof kRanges[0])];
    in.file = data + kWindowPrefixBytes;
    in.fileSize = size - kWindowPrefixBytes;
    return true;
}

inline std::vector<uint8_t> windowPrefix(int16_t originX, int16_t originY, uint8_t width, uint8_t height,
                                         uint8_t innerDx, uint8_t innerDy, uint8_t page, uint8_t range) {
    const auto x = static_cast<uint16_t>(originX);
    const auto y = static_cast<uint16_t>(originY);
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y),
            static_cast<uint8_t>(y >> 8), width, height, innerDx, innerDy, page, range};
}

}  // namespace vanto::fuzz
