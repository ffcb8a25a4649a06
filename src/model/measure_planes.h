#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "model/huge_pages.h"

namespace vanto {

// The source values of one frame that the per-cell table measures, in the units the files
// store: plane 0 the analysed frame (before any gray mapping), then each measured channel,
// then the measured second series. Reserved once; each frame in flight holds one set, and
// the run takes a frame's set by swap().
struct MeasurePlanes {
    // Reserves planes planes of pixels values each; false when memory cannot be had.
    bool reserve(int32_t planes, int64_t pixels);
    static int64_t bytesFor(int32_t planes, int64_t pixels) { return planes * pixels * int64_t{sizeof(float)}; }

    int32_t count() const { return count_; }
    float* plane(int32_t k) { return values_.get() + k * pixels_; }
    const float* plane(int32_t k) const { return values_.get() + k * pixels_; }
    // Whether plane k holds this frame's values (its file was read).
    bool loaded(int32_t k) const { return loaded_[static_cast<size_t>(k)] != 0; }
    void setLoaded(int32_t k, bool loaded) { loaded_[static_cast<size_t>(k)] = loaded ? 1 : 0; }

    void swap(MeasurePlanes& other) {
        std::swap(count_, other.count_);
        std::swap(pixels_, other.pixels_);
        values_.swap(other.values_);
        loaded_.swap(other.loaded_);
    }

private:
    int32_t count_ = 0;
    int64_t pixels_ = 0;
    OwnedBlock<float> values_;
    std::vector<uint8_t> loaded_;
};

}  // namespace vanto
