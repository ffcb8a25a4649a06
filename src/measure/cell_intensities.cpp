#include "measure/cell_intensities.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace vanto {

namespace {

constexpr int32_t kRingInner = 4;   // squared distances of the ring: 2 to 4 pixels
constexpr int32_t kRingOuter = 16;
constexpr int32_t kRingReach = 4;

// The median of values[0 .. n) (reordered); n >= 1.
double medianOf(float* values, size_t n) {
    float* middle = values + n / 2;
    std::nth_element(values, middle, values + n);
    const double upper = *middle;
    if (n % 2 == 1) return upper;
    const double lower = *std::max_element(values, middle);
    return (lower + upper) / 2;
}

}  // namespace

bool CellIntensities::reserve(int32_t width, int32_t height, int32_t planes) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    planes_ = std::max(planes, 0);
    const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    try {
        reserveBlocks(pixels);
    } catch (const std::bad_alloc&) {
        return false;
    }
    search_ = 0;
    return true;
}

void CellIntensities::reserveBlocks(size_t pixels) {
    cellStart_.assign(kCells + 1, 0);
    cellPixels_.assign(pixels, 0);
    stamp_.assign(pixels, 0);
    nearest_.assign(pixels, 0);
    touched_.reserve(pixels);
    ring_.reserve(pixels);
    samples_.reserve(pixels);
    stats_.assign(kCells * static_cast<size_t>(planes_), IntensityStats{});
}

void CellIntensities::groupPixels(const FrameCells& cells) {
    const int32_t n = std::min<int32_t>(cells.finalCount, static_cast<int32_t>(kCells));
    std::fill_n(cellStart_.begin(), n + 1, 0);
    const int64_t pixels = int64_t{width_} * height_;
    const int32_t* labels = cells.frameLabels;
    for (int64_t p = 0; p < pixels; ++p) {
        const int32_t c = labels[p];
        if (c >= 0 && c < n) ++cellStart_[static_cast<size_t>(c) + 1];
    }
    for (int32_t c = 0; c < n; ++c) cellStart_[static_cast<size_t>(c) + 1] += cellStart_[static_cast<size_t>(c)];
    // Fill with each start as a cursor, then shift the starts back.
    for (int64_t p = 0; p < pixels; ++p) {
        const int32_t c = labels[p];
        if (c >= 0 && c < n) cellPixels_[static_cast<size_t>(cellStart_[static_cast<size_t>(c)]++)] = static_cast<int32_t>(p);
    }
    for (int32_t c = n; c > 0; --c) cellStart_[static_cast<size_t>(c)] = cellStart_[static_cast<size_t>(c) - 1];
    cellStart_[0] = 0;
}

void CellIntensities::findRing(const FrameCells& cells, int32_t c) {
    const int32_t* labels = cells.frameLabels;
    if (search_ == INT32_MAX) {
        std::fill(stamp_.begin(), stamp_.end(), 0);
        search_ = 0;
    }
    const int32_t tag = ++search_;
    touched_.clear();
    ring_.clear();
    const auto inCell = [&](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < width_ && y < height_ && labels[static_cast<int64_t>(y) * width_ + x] == c;
    };
    for (int32_t k = cellStart_[static_cast<size_t>(c)]; k < cellStart_[static_cast<size_t>(c) + 1]; ++k) {
        const int32_t p = cellPixels_[static_cast<size_t>(k)];
        const int32_t x = p % width_;
        const int32_t y = p / width_;
        // The nearest pixel of the cell to any outside pixel lies on its boundary.
        if (inCell(x - 1, y) && inCell(x + 1, y) && inCell(x, y - 1) && inCell(x, y + 1)) continue;
        for (int32_t dy = -kRingReach; dy <= kRingReach; ++dy) {
            const int32_t qy = y + dy;
            if (qy < 0 || qy >= height_) continue;
            for (int32_t dx = -kRingReach; dx <= kRingReach; ++dx) {
                const int32_t d2 = dx * dx + dy * dy;
                const int32_t qx = x + dx;
                if (d2 > kRingOuter || qx < 0 || qx >= width_) continue;
                const int64_t q = static_cast<int64_t>(qy) * width_ + qx;
                if (labels[q] >= 0) continue;
                if (stamp_[static_cast<size_t>(q)] != tag) {
                    stamp_[static_cast<size_t>(q)] = tag;
                    nearest_[static_cast<size_t>(q)] = d2;
                    touched_.push_back(static_cast<int32_t>(q));
                } else if (d2 < nearest_[static_cast<size_t>(q)]) {
                    nearest_[static_cast<size_t>(q)] = d2;
                }
            }
        }
    }
    for (const int32_t q : touched_) {
        if (nearest_[static_cast<size_t>(q)] >= kRingInner) ring_.push_back(q);
    }
}

void CellIntensities::measure(const FrameCells& cells, const float* const* values, const bool* measured,
                              int32_t planeCount) {
    planeCount = std::min(planeCount, planes_);
    const int32_t n = std::min<int32_t>(cells.finalCount, static_cast<int32_t>(kCells));
    groupPixels(cells);
    for (int32_t c = 0; c < n; ++c) {
        findRing(cells, c);
        for (int32_t k = 0; k < planeCount; ++k) {
            IntensityStats& s = stats_[static_cast<size_t>(k) * kCells + static_cast<size_t>(c)];
            s = IntensityStats{};
            if (!measured[k]) continue;
            const float* plane = values[k];
            samples_.clear();
            for (int32_t i = cellStart_[static_cast<size_t>(c)]; i < cellStart_[static_cast<size_t>(c) + 1]; ++i) {
                const float v = plane[cellPixels_[static_cast<size_t>(i)]];
                if (!std::isnan(v)) samples_.push_back(v);
            }
            if (!samples_.empty()) {
                double sum = 0;
                float lo = samples_.front(), hi = samples_.front();
                for (const float v : samples_) {
                    sum += v;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
                s.count = static_cast<int64_t>(samples_.size());
                s.integrated = sum;
                s.mean = sum / static_cast<double>(s.count);
                double squares = 0;
                for (const float v : samples_) squares += (v - s.mean) * (v - s.mean);
                s.deviation = std::sqrt(squares / static_cast<double>(s.count));
                s.min = lo;
                s.max = hi;
                s.median = medianOf(samples_.data(), samples_.size());
            }
            samples_.clear();
            for (const int32_t q : ring_) {
                const float v = plane[q];
                if (!std::isnan(v)) samples_.push_back(v);
            }
            if (!samples_.empty()) {
                s.ringCount = static_cast<int64_t>(samples_.size());
                s.background = medianOf(samples_.data(), samples_.size());
            }
        }
    }
}

}  // namespace vanto
