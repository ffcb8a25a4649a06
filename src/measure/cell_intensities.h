#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/frame_cells.h"

namespace vanto {

// Intensity statistics of one cell over one plane of source values. Not-a-number samples are
// left out; count 0 means nothing could be measured.
struct IntensityStats {
    int64_t count = 0;       // pixels measured
    double mean = 0;
    double median = 0;       // of an even count: the mean of the two middle values
    double min = 0;
    double max = 0;
    double deviation = 0;    // population standard deviation (divided by count)
    double integrated = 0;   // the sum
    int64_t ringCount = 0;   // background pixels measured in the ring; 0: no background
    double background = 0;   // median of the ring
};

// The intensities of every final cell of a frame over one or more planes of source values.
// The background of a cell is the median over its ring: the pixels of no cell (small cells
// count as cells) whose Euclidean distance to the nearest pixel of the cell is 2 to 4 pixels
// (squared distance 4 to 16). Scratch is reserved once for the frame size.
class CellIntensities {
public:
    // For width x height frames and up to planes planes; false when memory cannot be had.
    bool reserve(int32_t width, int32_t height, int32_t planes);

    // Reads cells.frameLabels and finalCount; measures planes values[0 .. planeCount - 1]
    // (each width x height, top row first), skipping those whose measured[k] is false.
    void measure(const FrameCells& cells, const float* const* values, const bool* measured, int32_t planeCount);

    // Cell index's statistics over plane k of the last measure().
    const IntensityStats& of(int32_t plane, int32_t cell) const {
        return stats_[static_cast<size_t>(plane) * kCells + static_cast<size_t>(cell)];
    }

private:
    static constexpr size_t kCells = 2000;  // kTableRecords
    void reserveBlocks(size_t pixels);  // throws std::bad_alloc
    // Gathers the pixel indices of each cell (cellStart_, cellPixels_) and the boundary pixels.
    void groupPixels(const FrameCells& cells);
    // The ring of cell c into ring_, from its boundary pixels.
    void findRing(const FrameCells& cells, int32_t c);

    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t planes_ = 0;
    std::vector<int32_t> cellStart_;   // cell c's pixels: cellPixels_[cellStart_[c] .. cellStart_[c + 1])
    std::vector<int32_t> cellPixels_;  // pixel indices grouped by cell, in raster order
    std::vector<int32_t> stamp_;       // per pixel: the ring search that last reached it
    std::vector<int32_t> nearest_;     // per pixel: squared distance to that search's cell
    int32_t search_ = 0;
    std::vector<int32_t> touched_;     // pixels the current ring search reached
    std::vector<int32_t> ring_;        // the current cell's ring
    std::vector<float> samples_;       // one cell's or ring's values of one plane
    std::vector<IntensityStats> stats_;
};

}  // namespace vanto
