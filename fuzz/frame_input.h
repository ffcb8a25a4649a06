#pragma once
// The frame-loader fuzz input: a window prefix, then the frame file's bytes. Shared by the
// harness, the seed generator and the regression tests, so that a saved input replays as found.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vanto::fuzz {

// Prefix layout, little-endian: originX (int16), originY (int16), width (uint8), height (uint8),
// the inner window's offset inside the first one (uint8 dx, uint8 dy), the TIFF page (uint8)
// and the range byte. With the range byte's top bit clear, the file follows (the range: the
// byte modulo the entries of kRanges; 0 = no range). With it set, 18 more bytes follow: the
// range bounds LO and HI (two doubles, used when the byte's low 7 bits are 5 or more; 0 = no
// range, 1 to 4 an entry of kRanges), then -channel and -first (uint8 each); the file is then
// also read as a series of stack pages.
constexpr size_t kWindowPrefixBytes = 10;
constexpr size_t kSeriesPrefixBytes = kWindowPrefixBytes + 18;
constexpr uint8_t kSeriesFlag = 0x80;

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
    bool series = false;  // also read through the stack's pages
    int32_t channel = 0;  // -channel (0: not given)
    int32_t first = 1;    // -first
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
    in.page = data[8];
    constexpr size_t kRangeCount = sizeof kRanges / sizeof kRanges[0];
    if (!(data[9] & kSeriesFlag)) {
        in.range = kRanges[data[9] % kRangeCount];
        in.file = data + kWindowPrefixBytes;
        in.fileSize = size - kWindowPrefixBytes;
        return true;
    }
    if (size < kSeriesPrefixBytes) return false;
    const uint8_t mode = data[9] & ~kSeriesFlag;
    if (mode < kRangeCount) {
        in.range = kRanges[mode];
    } else {
        in.range.has = true;
        std::memcpy(&in.range.low, data + 10, 8);
        std::memcpy(&in.range.high, data + 18, 8);
    }
    in.series = true;
    in.channel = data[26];
    in.first = data[27];
    in.file = data + kSeriesPrefixBytes;
    in.fileSize = size - kSeriesPrefixBytes;
    return true;
}

inline std::vector<uint8_t> windowPrefix(int16_t originX, int16_t originY, uint8_t width, uint8_t height,
                                         uint8_t innerDx, uint8_t innerDy, uint8_t page, uint8_t range) {
    const auto x = static_cast<uint16_t>(originX);
    const auto y = static_cast<uint16_t>(originY);
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y),
            static_cast<uint8_t>(y >> 8), width, height, innerDx, innerDy, page, range};
}

// The prefix of a series input: a window prefix with the series flag, then the bounds, channel
// and first page (rangeMode 5 or more: the bounds given).
inline std::vector<uint8_t> seriesPrefix(int16_t originX, int16_t originY, uint8_t width, uint8_t height, uint8_t page,
                                         uint8_t rangeMode, double low, double high, uint8_t channel, uint8_t first) {
    std::vector<uint8_t> p = windowPrefix(originX, originY, width, height, 0, 0, page,
                                          static_cast<uint8_t>(rangeMode | kSeriesFlag));
    p.resize(kSeriesPrefixBytes);
    std::memcpy(p.data() + 10, &low, 8);
    std::memcpy(p.data() + 18, &high, 8);
    p[26] = channel;
    p[27] = first;
    return p;
}

}  // namespace vanto::fuzz
