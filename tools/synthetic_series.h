#pragma once
#include <cstdint>
#include <vector>

namespace vanto {

// A synthetic time-lapse series: dark soft-edged cells (gray about 40-90) on a brighter uneven
// background (about 170-220) with per-pixel noise. The cells drift in smooth random walks and
// stay mostly inside the frame; a few start out touching a neighbour. Every frame is a pure
// function of the parameters and the frame number, identical on every platform.
//
// Besides (all off by default, so the default frames stay as they are): the first `divisions`
// cells divide once each, at a frame between 3 and frameCount - 2, into two touching daughters
// of half the area that drift apart; `debris` dark specks (radius about 1-2 pixels, 20-45 gray
// levels below the background) lie still on the background and are no cells; `noise` sets the
// pixel noise.
struct SeriesParams {
    int32_t width = 320;
    int32_t height = 240;
    int32_t cellCount = 40;
    uint64_t seed = 1;
    int32_t minRadius = 6;
    int32_t maxRadius = 14;
    int32_t noise = 3;        // each pixel gets the sum of two random integers from -noise to noise
    int32_t debris = 0;       // dark specks on the background
    int32_t divisions = 0;    // cells that divide
    int32_t frameCount = 20;  // frames the divisions are spread over
};

// Renders frame frameNumber (1-based) into out, width x height bytes, row 0 at the top.
// Earlier frames need not have been rendered. labels (optional, width x height): the number
// of the cell whose outline holds the pixel (where cells overlap, the one covering it most),
// 0 for none; cells 1..cellCount are numbered in order, the daughters of the k-th dividing
// cell (from 0) are cellCount + 2k + 1 and + 2k + 2.
void renderSyntheticFrame(const SeriesParams& params, int32_t frameNumber, uint8_t* out, uint16_t* labels = nullptr);

// The parent of every cell number of the series (index 0 unused): 0 for none, else the
// number of the dividing cell.
std::vector<int32_t> syntheticParents(const SeriesParams& params);

// Analyser settings that segment such a series well.
int32_t suggestedThreshold(const SeriesParams& params);
int32_t suggestedSmallCellArea(const SeriesParams& params);

// 8-bit gray files, top row first; false when the file cannot be written.
bool writeGrayPng(const char* path, int32_t width, int32_t height, const uint8_t* pixels);
bool writeGrayTiff(const char* path, int32_t width, int32_t height, const uint8_t* pixels);
// A 16-bit gray TIFF (label image), top row first.
bool writeLabelTiff(const char* path, int32_t width, int32_t height, const uint16_t* labels);

}  // namespace vanto
