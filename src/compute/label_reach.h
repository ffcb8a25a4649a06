#pragma once
#include <cstdint>
#include <vector>

#include "model/neighbourhood_tables.h"

namespace vanto {

// Where addtwo's two searches can start, for each square tile of pixels, so that they skip
// the window offsets that cannot reach a cell of the searched plane from any pixel of the
// tile: search A looks in the current plane from the previous frame's cell pixels, search B in
// the previous plane from the current frame's.
//
// Tiles are kTileSide x kTileSide pixels from the frame's top-left corner, in rows of
// ceil(width / kTileSide); the last row and column may be partial. For a tile T, let D2 be the
// smallest squared distance from T's rectangle to a pixel of the plane that holds a cell
// (value >= 0). Every pixel p of T lies at least that far from every cell pixel q, because
// |p - q|^2 >= (distance from T to q)^2 >= D2. So every offset (dx, dy) with
// dx^2 + dy^2 < D2 lands, from any pixel of T, outside the frame or on a pixel without a cell,
// and the search skips it whatever it would have done there. The tile's start is the number of
// leading offsets of the table (in its own order) with dx^2 + dy^2 < D2; the search from there
// meets its first cell at the same offset as the search from offset 0, and none where that
// finds none. A start of kWindowOffsets skips the whole search (no cell within reach).
//
// D2 is found a row at a time: for each row and tile column, the horizontal gap from the
// tile's columns to the nearest cell pixel of the row, clamped at kGapLimit; for the tile,
// the smallest over the rows of (row gap)^2 + (vertical gap)^2. Clamping only lowers D2, which
// keeps the start safe; kGapLimit^2 exceeds every offset's squared length, so a tile with no
// cell within reach still skips everything. A tile without a cell pixel of its own plane is
// never searched (the kernel answers -1 there first) and gets kWindowOffsets.
class LabelReach {
public:
    static constexpr int32_t kTileSide = 8;
    static constexpr int32_t kGapLimit = 15;  // 15^2 = 225 > 10^2 + 10^2

    // Sizes every table for a width x height frame; reserved once. False when the sizes are
    // not positive or memory cannot be had.
    bool reserve(int32_t width, int32_t height);

    // The starts of every tile for the planes prev and cur (width x height, row by row, a cell
    // where the value is >= 0) and the offset table given (in any order).
    void build(const int32_t* prev, const int32_t* cur, const NeighbourhoodTables& tables);
    // Every tile starts at offset 0: the searches unpruned.
    void clear();

    int32_t tilesAcross() const { return tilesAcross_; }
    int32_t tileCount() const { return static_cast<int32_t>(startsA_.size()); }
    // One start a tile, tiles in rows: for search A (in cur, from prev's cells) and B.
    const std::vector<int32_t>& startsA() const { return startsA_; }
    const std::vector<int32_t>& startsB() const { return startsB_; }

private:
    // The clamped horizontal gaps of every row and tile column of plane into gaps.
    void rowGaps(const int32_t* plane, uint8_t* gaps);
    // The start of tile (tx, ty) for a search in the plane whose row gaps are given.
    int32_t tileStart(const uint8_t* gaps, int32_t tx, int32_t ty) const;

    int32_t width_ = 0, height_ = 0;
    int32_t tilesAcross_ = 0, tilesDown_ = 0;
    std::vector<uint8_t> gapsPrev_, gapsCur_;    // height x tilesAcross, clamped at kGapLimit
    std::vector<int32_t> firstCell_, lastCell_;  // per tile column of one row; -1 for none
    int32_t startFor_[kGapLimit * kGapLimit + 1] = {};  // the start for each squared gap
    std::vector<int32_t> startsA_, startsB_;
};

}  // namespace vanto
