#pragma once
#include <cstdint>
#include <memory>

#include "io/status.h"
#include "model/huge_pages.h"
#include "model/measure_planes.h"

namespace vanto {

// One frame between its loading and its tracking: the gray pixels and what segmentation hands
// to tracking (the label plane, the segmentation records and their count). Reserved once by
// reserve(); the run keeps a fixed number of them and reuses each for frame after frame.
struct FrameInFlight {
    FrameInFlight() = default;
    FrameInFlight(const FrameInFlight&) = delete;
    FrameInFlight& operator=(const FrameInFlight&) = delete;

    // Reserves the planes for a width x height frame; false when memory cannot be had.
    bool reserve(int32_t frameWidth, int32_t frameHeight);
    // Bytes reserve() asks for a frame of the given pixel count.
    static int64_t bytesFor(int64_t pixelCount);

    uint8_t* gray() { return gray_.get(); }
    const uint8_t* gray() const { return gray_.get(); }

    int32_t frame = 0;  // frame number, from 1
    Status load;    // how loading went; the gray plane is valid only when it went well
    int64_t nanSamples = 0;  // NaN samples of a frame that loaded, given the background's gray
    int32_t* segLabels = nullptr;  // pixelCount entries: cell numbers, or < 0
    int32_t* cellTable = nullptr;  // kTableRecords records
    int32_t curCount = 0;          // segmentFrame's result: records written, or kCellLimit
    MeasurePlanes measures;        // the source values the per-cell table measures (none without it)

private:
    OwnedBlock<uint8_t> gray_;  // pixelCount bytes
    OwnedBlock<int32_t> labels_;
    OwnedBlock<int32_t> records_;
};

}  // namespace vanto
