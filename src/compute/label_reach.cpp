#include "compute/label_reach.h"

#include <algorithm>
#include <new>

namespace vanto {

namespace {

constexpr int32_t kSide = LabelReach::kTileSide;
constexpr int32_t kLimit = LabelReach::kGapLimit;
constexpr int32_t kLimitSquared = kLimit * kLimit;

}  // namespace

bool LabelReach::reserve(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    width_ = width;
    height_ = height;
    tilesAcross_ = (width + kSide - 1) / kSide;
    tilesDown_ = (height + kSide - 1) / kSide;
    const size_t tiles = static_cast<size_t>(tilesAcross_) * tilesDown_;
    const size_t rowTiles = static_cast<size_t>(height) * tilesAcross_;
    try {
        gapsPrev_.assign(rowTiles, 0);
        gapsCur_.assign(rowTiles, 0);
        firstCell_.assign(tilesAcross_, -1);
        lastCell_.assign(tilesAcross_, -1);
        startsA_.assign(tiles, 0);
        startsB_.assign(tiles, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void LabelReach::clear() {
    std::fill(startsA_.begin(), startsA_.end(), 0);
    std::fill(startsB_.begin(), startsB_.end(), 0);
}

void LabelReach::rowGaps(const int32_t* plane, uint8_t* gaps) {
    for (int32_t y = 0; y < height_; ++y) {
        const int32_t* row = plane + static_cast<int64_t>(y) * width_;
        // The first and last cell pixel of each tile column; a tile of no cell has every
        // sign bit set, so the AND of its values is negative.
        const int32_t wholeTiles = width_ / kSide;
        for (int32_t t = 0; t < tilesAcross_; ++t) {
            const int32_t x0 = t * kSide, x1 = std::min(x0 + kSide, width_);
            int32_t all = -1;
            if (t < wholeTiles) {
                for (int32_t i = 0; i < kSide; ++i) all &= row[x0 + i];  // a fixed count, unrolled
            } else {
                for (int32_t x = x0; x < x1; ++x) all &= row[x];
            }
            if (all < 0) {
                firstCell_[t] = lastCell_[t] = -1;
                continue;
            }
            int32_t first = x0, last = x1 - 1;
            while (row[first] < 0) ++first;
            while (row[last] < 0) --last;
            firstCell_[t] = first;
            lastCell_[t] = last;
        }
        // The gap to the nearest cell pixel left of, inside or right of each tile column.
        uint8_t* out = gaps + static_cast<size_t>(y) * tilesAcross_;
        int32_t seen = -1;  // the last cell pixel left of the tile
        for (int32_t t = 0; t < tilesAcross_; ++t) {
            int32_t gap = kLimit;
            if (firstCell_[t] >= 0) {
                gap = 0;
                seen = lastCell_[t];
            } else if (seen >= 0) {
                gap = std::min(kLimit, t * kSide - seen);
            }
            out[t] = static_cast<uint8_t>(gap);
        }
        seen = -1;  // the first cell pixel right of the tile
        for (int32_t t = tilesAcross_ - 1; t >= 0; --t) {
            if (firstCell_[t] >= 0) {
                seen = firstCell_[t];
            } else if (seen >= 0) {
                const int32_t right = std::min(t * kSide + kSide, width_) - 1;
                out[t] = static_cast<uint8_t>(std::min<int32_t>(out[t], seen - right));
            }
        }
    }
}

int32_t LabelReach::tileStart(const uint8_t* gaps, int32_t tx, int32_t ty) const {
    const int32_t y0 = ty * kSide, y1 = std::min(y0 + kSide, height_) - 1;
    // Rows kLimit or more away add at least kLimitSquared, the cap.
    const int32_t from = std::max(0, y0 - (kLimit - 1)), to = std::min(height_ - 1, y1 + (kLimit - 1));
    int32_t best = kLimitSquared;
    for (int32_t y = from; y <= to && best > 0; ++y) {
        const int32_t v = y < y0 ? y0 - y : y > y1 ? y - y1 : 0;
        const int32_t h = gaps[static_cast<size_t>(y) * tilesAcross_ + tx];
        best = std::min(best, h * h + v * v);
    }
    return startFor_[best];
}

void LabelReach::build(const int32_t* prev, const int32_t* cur, const NeighbourhoodTables& tables) {
    // startFor_[d2]: the number of leading offsets shorter than sqrt(d2).
    int32_t k = 0;
    for (int32_t d2 = 0; d2 <= kLimitSquared; ++d2) {
        while (k < kWindowOffsets &&
               tables.offsetDx[k] * tables.offsetDx[k] + tables.offsetDy[k] * tables.offsetDy[k] < d2) {
            ++k;
        }
        startFor_[d2] = k;
    }
    rowGaps(prev, gapsPrev_.data());
    rowGaps(cur, gapsCur_.data());
    for (int32_t ty = 0; ty < tilesDown_; ++ty) {
        const int32_t y0 = ty * kSide, y1 = std::min(y0 + kSide, height_) - 1;
        for (int32_t tx = 0; tx < tilesAcross_; ++tx) {
            // Whether the tile holds a cell pixel of each plane: a row gap of 0 inside it.
            bool hasPrev = false, hasCur = false;
            for (int32_t y = y0; y <= y1; ++y) {
                hasPrev = hasPrev || gapsPrev_[static_cast<size_t>(y) * tilesAcross_ + tx] == 0;
                hasCur = hasCur || gapsCur_[static_cast<size_t>(y) * tilesAcross_ + tx] == 0;
            }
            const size_t tile = static_cast<size_t>(ty) * tilesAcross_ + tx;
            startsA_[tile] = hasPrev ? tileStart(gapsCur_.data(), tx, ty) : kWindowOffsets;
            startsB_[tile] = hasCur ? tileStart(gapsPrev_.data(), tx, ty) : kWindowOffsets;
        }
    }
}

}  // namespace vanto
