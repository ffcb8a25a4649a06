#pragma once
#include <cstdint>

namespace vanto {

// A synthetic time-lapse series: dark soft-edged cells (gray about 40-90) on a brighter uneven
// background (about 170-220) with per-pixel noise. The cells drift in smooth random walks and
// stay mostly inside the frame; a few start out touching a neighbour. Every frame is a pure
// function of the parameters and the frame number, identical on every platform.
struct SeriesParams {
    int32_t width = 320;
    int32_t height = 240;
    int32_t cellCount = 40;
    uint64_t seed = 1;
    int32_t minRadius = 6;
    int32_t maxRadius = 14;
};

// Renders frame frameNumber (1-based) into out, width x height bytes, row 0 at the top.
// Earlier frames need not have been rendered.
void renderSyntheticFrame(const SeriesParams& params, int32_t frameNumber, uint8_t* out);

// Analyser settings that segment such a series well.
int32_t suggestedThreshold(const SeriesParams& params);
int32_t suggestedSmallCellArea(const SeriesParams& params);

// 8-bit gray files, top row first; false when the file cannot be written.
bool writeGrayPng(const char* path, int32_t width, int32_t height, const uint8_t* pixels);
bool writeGrayTiff(const char* path, int32_t width, int32_t height, const uint8_t* pixels);

}  // namespace vanto
