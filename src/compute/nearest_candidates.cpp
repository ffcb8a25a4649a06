#include "compute/nearest_candidates.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "model/records.h"

namespace vanto {

namespace {

// Squares stay exact: every difference below is at most 2^31 + 2^16 in size, so each square
// is below 2^63 and the sum of two below 2^64.
uint64_t squared(int64_t d) {
    const uint64_t m = static_cast<uint64_t>(d < 0 ? -d : d);
    return m * m;
}

// Squared distance from c to the nearest and to the farthest point of [lo, hi].
uint64_t nearGap(int64_t c, int64_t lo, int64_t hi) { return squared(c < lo ? lo - c : c > hi ? c - hi : 0); }
uint64_t farGap(int64_t c, int64_t lo, int64_t hi) { return squared(std::max(c - lo, hi - c)); }

}  // namespace

bool NearestCandidates::reserve(int32_t width, int32_t height, int32_t side) {
    if (width <= 0 || height <= 0 || side <= 0) return false;
    width_ = width;
    height_ = height;
    side_ = side;
    groupsAcross_ = (width + side - 1) / side;
    groupsDown_ = (height + side - 1) / side;
    const int64_t groups = int64_t{groupsAcross_} * groupsDown_;
    try {
        siteX_.assign(kTableRecords, 0);
        siteY_.assign(kTableRecords, 0);
        binRecords_.assign(kTableRecords, 0);
        binOfSite_.assign(kTableRecords, 0);
        // Bins are never smaller than groups, so there are never more bins than groups.
        binStart_.assign(static_cast<size_t>(groups) + 1, 0);
        spans_.assign(static_cast<size_t>(2 * groups), 0);
        // Room for 16 entries a group on average, and for every record at least once.
        entries_.assign(static_cast<size_t>(16 * groups + kTableRecords), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

NearestCandidates::Bins NearestCandidates::binSites(const int32_t* cellTable) {
    siteCount_ = 0;
    while (siteCount_ < kTableRecords && cellRecord(cellTable, siteCount_)[CellWord::smallFlag] != kEndMarker) {
        const int32_t* record = cellRecord(cellTable, siteCount_);
        siteX_[siteCount_] = record[CellWord::centerX];
        siteY_[siteCount_] = record[CellWord::centerY];
        ++siteCount_;
    }

    // Square bins of a whole number of groups, about one record a bin. A centre outside the
    // frame goes to the nearest edge bin: it lies no nearer to any group than that bin does.
    const double perSite = static_cast<double>(width_) * height_ / std::max(siteCount_, 1);
    const int64_t groupsPerBin = std::max<int64_t>(1, std::llround(std::sqrt(perSite) / side_));
    const int64_t bin = std::min<int64_t>(groupsPerBin * side_, std::max(width_, height_));
    const int32_t across = static_cast<int32_t>((width_ + bin - 1) / bin);
    const int32_t down = static_cast<int32_t>((height_ + bin - 1) / bin);
    std::fill_n(binStart_.begin(), across * down + 1, 0);
    for (int32_t k = 0; k < siteCount_; ++k) {
        // A negative centre divides towards 0 and lands in the first bin, as it should.
        const int64_t bx = std::clamp<int64_t>(siteX_[k] / bin, 0, across - 1);
        const int64_t by = std::clamp<int64_t>(siteY_[k] / bin, 0, down - 1);
        binOfSite_[k] = static_cast<int32_t>(by * across + bx);
        ++binStart_[binOfSite_[k] + 1];
    }
    for (int32_t b = 0; b < across * down; ++b) binStart_[b + 1] += binStart_[b];
    for (int32_t k = 0; k < siteCount_; ++k) binRecords_[binStart_[binOfSite_[k]]++] = k;
    for (int32_t b = across * down; b > 0; --b) binStart_[b] = binStart_[b - 1];
    binStart_[0] = 0;
    return {bin, across, down};
}

void NearestCandidates::build(const int32_t* cellTable) {
    // Plain names, not a structured binding: the lambdas below capture them.
    const Bins bins = binSites(cellTable);
    const int64_t bin = bins.size;
    const int32_t across = bins.across;
    const int32_t down = bins.down;

    // Calls visit(k) for every record in the bins at ring distance r (Chebyshev, in bins) from
    // bin (cx, cy).
    auto ring = [&](int32_t cx, int32_t cy, int32_t r, auto&& visit) {
        auto binAt = [&](int32_t x, int32_t y) {
            if (x < 0 || y < 0 || x >= across || y >= down) return;
            const int32_t b = y * across + x;
            for (int32_t i = binStart_[b]; i < binStart_[b + 1]; ++i) visit(binRecords_[i]);
        };
        if (r == 0) return binAt(cx, cy);
        for (int32_t x = cx - r; x <= cx + r; ++x) {
            binAt(x, cy - r);
            binAt(x, cy + r);
        }
        for (int32_t y = cy - r + 1; y <= cy + r - 1; ++y) {
            binAt(cx - r, y);
            binAt(cx + r, y);
        }
    };
    // A record in ring r >= 1 lies at least (r - 1) bins and one pixel from the group's bin
    // along one axis, hence from the group.
    auto ringGap = [bin](int32_t r) { return r == 0 ? 0 : squared((r - 1) * bin + 1); };

    entryCount_ = 0;
    const int64_t room = static_cast<int64_t>(entries_.size());
    for (int32_t gy = 0; gy < groupsDown_; ++gy) {
        for (int32_t gx = 0; gx < groupsAcross_; ++gx) {
            const int64_t x0 = int64_t{gx} * side_, y0 = int64_t{gy} * side_;
            const int64_t x1 = std::min<int64_t>(x0 + side_, width_) - 1;
            const int64_t y1 = std::min<int64_t>(y0 + side_, height_) - 1;
            const int32_t cx = static_cast<int32_t>(x0 / bin), cy = static_cast<int32_t>(y0 / bin);
            const int32_t rings = std::max({cx, across - 1 - cx, cy, down - 1 - cy});
            uint64_t bound = UINT64_MAX;
            for (int32_t r = 0; r <= rings && ringGap(r) <= bound; ++r) {
                ring(cx, cy, r, [&](int32_t k) {
                    bound = std::min(bound, farGap(siteX_[k], x0, x1) + farGap(siteY_[k], y0, y1));
                });
            }
            const int32_t first = entryCount_;
            const int64_t limit = std::min<int64_t>(kGroupListLimit, room - first);
            int32_t count = 0;
            bool overflow = false;
            for (int32_t r = 0; r <= rings && ringGap(r) <= bound && !overflow; ++r) {
                ring(cx, cy, r, [&](int32_t k) {
                    if (overflow || nearGap(siteX_[k], x0, x1) + nearGap(siteY_[k], y0, y1) > bound) return;
                    if (count == limit) {
                        overflow = true;
                        return;
                    }
                    entries_[first + count++] = k;
                });
            }
            int32_t* span = &spans_[2 * (static_cast<size_t>(gy) * groupsAcross_ + gx)];
            span[0] = first;
            span[1] = overflow ? kEveryRecord : count;
            if (!overflow) entryCount_ += count;
        }
    }
}

}  // namespace vanto
