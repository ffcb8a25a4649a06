#pragma once
#include <cstdint>

namespace vanto {

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
