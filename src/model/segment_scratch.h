#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "model/huge_pages.h"
#include "model/neighbourhood_tables.h"
#include "model/records.h"

namespace vanto {

// The working planes of one segmenting thread, reserved once by reserve(). Planes hold
// width x height signed 32-bit values, pixel (x, y) at y * width + x. Only the segmentation
// stages read or write them, and only one frame at a time; the neighbourhood tables are the
// run's, shared read-only by every thread.
//
// segLabels, cellTable and curCount are not the scratch's own: they are the output of the
// frame being segmented, lent by segmentFrame (or by a test) for the length of one frame.
class SegmentScratch {
public:
    explicit SegmentScratch(const NeighbourhoodTables& runTables) : tables(runTables) {}
    SegmentScratch(const SegmentScratch&) = delete;
    SegmentScratch& operator=(const SegmentScratch&) = delete;

    // Reserves every plane for a width x height frame. Returns false when memory cannot be
    // had; requestedBytes() then tells how much was asked.
    bool reserve(int32_t frameWidth, int32_t frameHeight);
    int64_t requestedBytes() const { return requested_; }
    // Bytes reserve() asks for a frame of the given pixel count.
    static int64_t bytesFor(int64_t pixelCount);
    // Reserves the blocks of the cell options (smoothing, ring contrast, growing) once, after
    // reserve(); only runs that use one ask for them. extensionBytesFor: their size.
    bool reserveExtensions();
    static int64_t extensionBytesFor(int64_t pixelCount);
    // Reserves the blocks of -split once, after reserve(); only runs with -split ask for them.
    bool reserveSplitting();
    static int64_t splittingBytesFor(int32_t frameWidth, int32_t frameHeight);

    int32_t width = 0;
    int32_t height = 0;
    int64_t pixelCount = 0;

    // Planes.
    uint8_t* invertedGray = nullptr;  // pixelCount bytes: 255 - gray, for -invert
    int32_t* workPlane = nullptr;
    int32_t* maskPlane = nullptr;
    int32_t* depthPlane = nullptr;
    int32_t* frameLabels = nullptr;
    int32_t* scratchInts = nullptr;  // scratchCapacity entries: flood queues
    int64_t scratchCapacity = 0;

    // Per-region tables, sized for the frame (regions never outnumber pixels).
    int32_t* regionSize = nullptr;     // pixelCount + 1 entries
    // 2 * (pixelCount + 1) entries: the hand-back queue and cut pixels of neck cutting, merge
    // candidate records
    int32_t* regionScratch = nullptr;

    // Blocks of the cell options (null unless reserveExtensions()).
    uint8_t* smoothedGray = nullptr;    // pixelCount bytes: -smooth's output
    int32_t* optionPlane = nullptr;     // pixelCount entries: -smooth's row pass, -grow's copy of the labels
    int32_t* innerHistogram = nullptr;  // kTableRecords x 256: gray histogram of each cell
    int32_t* ringHistogram = nullptr;   // kTableRecords x 256: gray histogram of each cell's ring

    // Blocks of -split (null unless reserveSplitting()).
    int32_t* splitDistance = nullptr;  // (width + 2) x (height + 2): squared distances in a cell's box
    int32_t* splitMarks = nullptr;     // pixelCount entries: union-find parents, then parts
    int32_t* splitHeights = nullptr;   // pixelCount entries: squared distances of a cell's pixels
    int64_t* splitOrder = nullptr;     // pixelCount entries: a cell's pixels by height
    int64_t* splitQueue = nullptr;     // pixelCount + 1 entries: counts by height, seeds, the flood's heap
    int32_t* splitEnvelope = nullptr;  // 3 x (width + 2): one row of the distance transform

    const NeighbourhoodTables& tables;

    int32_t regionCount = 0;  // regions of the frame being segmented

    // Output of the frame being segmented (lent, see above).
    int32_t* segLabels = nullptr;  // pixelCount entries
    int32_t* cellTable = nullptr;  // kTableRecords records
    int32_t curCount = 0;          // segmentation records written

private:
    std::vector<OwnedBlock<int32_t>> owned_;
    OwnedBlock<uint8_t> inverted_;
    OwnedBlock<uint8_t> smoothed_;
    std::vector<OwnedBlock<int32_t>> extensions_;
    std::vector<OwnedBlock<int32_t>> splitInts_;
    std::vector<OwnedBlock<int64_t>> splitKeys_;
    int64_t requested_ = 0;
};

}  // namespace vanto
