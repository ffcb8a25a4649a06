#pragma once
#include <algorithm>
#include <cstdint>

namespace vanto {

// Column sums of a square of side 2 r + 1 sliding down a w x h plane: sums[x] holds the sum of
// column x over rows y - r .. y + r (those inside the plane). startColumnSums sets them for
// y = 0; nextColumnSums moves them from y to y + 1, one row in and one row out, so that each
// row of output reads two rows of the plane and not 2 r + 1.
template <typename Sum, typename Value>
void startColumnSums(Sum* sums, const Value* plane, int32_t w, int32_t h, int32_t r) {
    std::fill_n(sums, w, Sum{0});
    for (int32_t y = 0; y <= std::min(h - 1, r); ++y) {
        const Value* row = plane + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) sums[x] += row[x];
    }
}
template <typename Sum, typename Value>
void nextColumnSums(Sum* sums, const Value* plane, int32_t w, int32_t h, int32_t y, int32_t r) {
    if (y + r + 1 < h) {
        const Value* row = plane + static_cast<int64_t>(y + r + 1) * w;
        for (int32_t x = 0; x < w; ++x) sums[x] += row[x];
    }
    if (y - r >= 0) {
        const Value* row = plane + static_cast<int64_t>(y - r) * w;
        for (int32_t x = 0; x < w; ++x) sums[x] -= row[x];
    }
}

// The first index from `from` up to end whose value is not negative, or end. Eight values at a
// time: where labels are sparse, most of a plane is skipped without a branch per pixel.
inline int64_t firstNonNegative(const int32_t* values, int64_t from, int64_t end) {
    for (; from + 8 <= end; from += 8) {
        const int32_t* v = values + from;
        // All eight negative exactly when the sign bit survives the AND of all eight.
        if ((v[0] & v[1] & v[2] & v[3] & v[4] & v[5] & v[6] & v[7]) >= 0) break;
    }
    while (from < end && values[from] < 0) ++from;
    return from;
}

// Counts a stream of keys (>= 0) a run of equal keys at a time: count(key) adds one to the
// open run, and a run's length goes to addTo(key, length) when the key changes and at
// finish(). Where neighbouring pixels mostly share a key, this replaces an add through memory
// per pixel.
template <typename AddTo>
class RunCounter {
public:
    explicit RunCounter(AddTo addTo) : addTo_(addTo) {}
    void count(int64_t key) {
        if (key != key_) {
            finish();
            key_ = key;
        }
        ++length_;
    }
    void finish() {
        if (length_ > 0) addTo_(key_, length_);
        length_ = 0;
    }

private:
    AddTo addTo_;
    int64_t key_ = -1;
    int32_t length_ = 0;
};

}  // namespace vanto
