#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "synthetic_series.h"

namespace vanto::testing {

// Frames of the cell-limit runs: kLimitSide x kLimitSide pixels.
inline constexpr int32_t kLimitSide = 945;

// An ordinary generated frame with a few cells.
inline bool writeSparseFrame(const std::string& path, int32_t frame) {
    SeriesParams params;
    params.width = kLimitSide;
    params.height = kLimitSide;
    params.cellCount = 6;
    std::vector<uint8_t> pixels(static_cast<size_t>(kLimitSide) * kLimitSide);
    renderSyntheticFrame(params, frame, pixels.data());
    return writeGrayPng(path.c_str(), kLimitSide, kLimitSide, pixels.data());
}

// 45 x 45 dark squares of 14 x 14 pixels on a bright ground: large enough not to be merged,
// far enough apart not to be bridged, so 2,025 cells, over the cell limit.
inline bool writeCrowdedFrame(const std::string& path) {
    std::vector<uint8_t> pixels(static_cast<size_t>(kLimitSide) * kLimitSide, 200);
    for (int32_t y = 0; y < kLimitSide; ++y)
        for (int32_t x = 0; x < kLimitSide; ++x)
            if (x % 21 >= 4 && x % 21 < 18 && y % 21 >= 4 && y % 21 < 18) pixels[y * kLimitSide + x] = 10;
    return writeGrayPng(path.c_str(), kLimitSide, kLimitSide, pixels.data());
}

}  // namespace vanto::testing
