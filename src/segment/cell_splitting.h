#pragma once
#include <cstdint>

namespace vanto {

inline constexpr double kMaxSplitDepth = 100;  // -split allows up to 100 pixels

// The working memory of splitTouchingCells for a w x h frame, reserved once by the caller
// (SegmentScratch::reserveSplitting).
struct SplitPlanes {
    int32_t* distance = nullptr;  // (w + 2) x (h + 2): squared distances in a cell's box, then its seeds
    int32_t* marks = nullptr;     // w x h: union-find parents, then the parts the flood gave
    int32_t* heights = nullptr;   // w x h: the squared distances of the cell's pixels
    int64_t* order = nullptr;     // w x h: a cell's pixels as keys, highest distance first; the flood's heaps
    int64_t* queue = nullptr;     // w x h + 1: a search's list, counts by height, where each height's heap is
    int32_t* envelope = nullptr;  // 3 x (w + 2): one row of the transform and its lower envelope
};

// The squared Euclidean distance (exact, in integers) from each pixel of cell c's bounding box
// minX..maxX x minY..maxY, widened by one pixel on every side, to the nearest pixel of that
// widened box that is not of the cell (the widening holds none of it): d2 has
// (maxX - minX + 3) x (maxY - minY + 3) entries, row by row, 0 off the cell. labels: w wide,
// the box inside the frame; envelope: 3 x (maxX - minX + 3) entries of scratch. Pixels of the
// box beyond the frame's edge are never read.
void cellEdgeDistances(const int32_t* labels, int32_t w, int32_t c, int32_t minX, int32_t minY, int32_t maxX,
                       int32_t maxY, int32_t* d2, int32_t* envelope);

// -split H on the cells of one frame. labels (w x h): cell numbers 0..count-1 (4-connected
// pieces), negative for no cell; cellTable: their records (the bounding boxes are read).
// Within each cell, d is the Euclidean distance from a pixel to the nearest pixel that is not
// of the cell (outside the frame counts as not of the cell). The seeds are the regional maxima
// of d whose dynamic (how far d must fall from the maximum before a path reaches a higher one)
// is at least minDynamic > 0, the cell's highest maximum always among them; a cell with two
// or more seeds is divided by flooding d from the seeds: the pixel of highest d, then lowest
// index, is taken next and gives its part to its unreached 4-neighbours in the cell. The first
// part (of the highest seed) keeps the cell's number, the others get numbers from count
// upwards. Returns the number of cells divided; the caller numbers the cells again.
int32_t splitTouchingCells(int32_t* labels, int32_t w, int32_t h, const int32_t* cellTable, int32_t count,
                           double minDynamic, const SplitPlanes& planes);

// The heights -split-gray floods: the gray (w x h) smoothed by an integer Gaussian of sigma
// 1.5 (weights 64, 51, 26, 9, 2 out from the centre, pixels beyond an edge taken as the edge
// pixel), as 255 x 240^2 less the weighted sum, so that darker is higher and one gray level is
// 240^2 units. columnPass: w x h entries of scratch.
void grayHeights(const uint8_t* gray, int32_t w, int32_t h, int32_t* columnPass, int32_t* heights);

// -split-gray H on the cells of one frame: as splitTouchingCells, with heights (from
// grayHeights) in place of the distance to the edge: the seeds are the darkest points of the
// smoothed gray whose dynamic (how much lighter the way to a darker point must get) is at least
// minDynamic > 0 gray levels, the darkest always among them; a cell with two or more is divided
// by flooding from the seeds, the darkest pixel, then the lowest index, first. planes: marks,
// order and queue as for splitTouchingCells, distance for a cell's box; heights is not used.
int32_t splitCellsByGray(int32_t* labels, int32_t w, int32_t h, const int32_t* cellTable, int32_t count,
                         const int32_t* heights, double minDynamic, const SplitPlanes& planes);

}  // namespace vanto
