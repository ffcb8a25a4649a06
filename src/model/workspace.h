#pragma once
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/frame_in_flight.h"
#include "model/huge_pages.h"
#include "model/neighbourhood_tables.h"
#include "model/records.h"

namespace vanto {

// Every plane, table and scratch block of tracking, measuring and drawing, reserved once by
// reserve() and never replaced. Planes hold width x height signed 32-bit values, pixel (x, y)
// at y * width + x. Stages borrow what they need; only the driver reserves and exchanges.
// Segmentation works in its own SegmentScratch; its output reaches segLabels, cellTable and
// curCount by takeSegmentation.
class Workspace {
public:
    Workspace() = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Reserves every block for a width x height frame; every slot of linkHistory starts empty.
    // Returns false when memory cannot be had, or at once for a frame of more than
    // kMaxPixels pixels; requestedBytes() then tells how much was asked.
    bool reserve(int32_t frameWidth, int32_t frameHeight);
    int64_t requestedBytes() const { return requested_; }
    // What reserve() asks for in all, without asking; INT64_MAX beyond kMaxPixels pixels.
    static int64_t plannedBytes(int32_t frameWidth, int32_t frameHeight);
    static constexpr int64_t kMaxPixels = INT32_MAX;  // pixel indices are signed 32-bit

    // Slot of frame number j (j mod 50), and slot number s.
    int32_t* slotOfFrame(int32_t frame) { return slotAt(frame % kSlotCount); }
    int32_t* slotAt(int32_t s) { return linkHistory + static_cast<int64_t>(s) * kSlotWords; }
    const int32_t* slotAt(int32_t s) const { return linkHistory + static_cast<int64_t>(s) * kSlotWords; }

    // End of frame: the current label plane and cell table become the previous ones.
    void exchangeFrames();

    // Start of frame: segLabels and cellTable take the frame's planes, which take the ones held
    // here (same sizes, contents dropped), and curCount takes the frame's record count.
    void takeSegmentation(FrameInFlight& frame);

    int32_t width = 0;
    int32_t height = 0;
    int64_t pixelCount = 0;

    // Planes.
    int32_t* workPlane = nullptr;
    int32_t* maskPlane = nullptr;
    int32_t* segLabels = nullptr;
    int32_t* frameLabels = nullptr;
    int32_t* nearestCellMap = nullptr;
    int32_t* prevFrameLabels = nullptr;

    // Fixed blocks.
    int32_t* pairMatrix = nullptr;     // kMatrixEntries
    int32_t* prevAdjacency = nullptr;  // kMatrixEntries
    int32_t* cellTable = nullptr;      // kTableRecords records
    int32_t* prevCellTable = nullptr;  // kTableRecords records
    int32_t* scratchInts = nullptr;    // scratchCapacity entries: flood queues and lists
    // kSlotCount slots of kSlotWords. A slot's entries run up to its end entry (see endSlotAt);
    // what lies after it is stale and never read.
    int32_t* linkHistory = nullptr;
    int64_t scratchCapacity = 0;

    // Pending ranges of the index sort: 2 ints a range, room for sortStackRanges ranges.
    int32_t* sortStack = nullptr;
    int64_t sortStackRanges = 0;

    // Link resolution: rank order and keys of a component, and the links of each cell
    // (links of previous cell P are linksByPrev[linksByPrevStart[P] .. linksByPrevStart[P+1]),
    // in slot order; likewise for current cells).
    int32_t* rankOrder = nullptr;         // kLinkLimit
    int32_t* rankKey = nullptr;           // kLinkLimit
    int32_t* linksByPrevStart = nullptr;  // kTableRecords + 1
    int32_t* linksByPrev = nullptr;       // kLinkLimit
    int32_t* linksByCurStart = nullptr;   // kTableRecords + 1
    int32_t* linksByCur = nullptr;        // kLinkLimit
    int16_t* prevCellList = nullptr;      // kTableRecords: previous cells of a component
    int16_t* curCellList = nullptr;       // kTableRecords: current cells of a component
    int16_t* mergeList = nullptr;         // kTableRecords: fragments of one previous cell

    // Touching Voronoi region pairs (keys max * n + min); a frame has fewer than 2 * pixelCount + 4.
    int32_t* voronoiPairs = nullptr;

    NeighbourhoodTables tables;

    // Frame counters.
    int32_t curCount = 0;     // segmentation records of this frame
    int32_t prevCount = 0;    // final cells of the previous frame
    int32_t finalCount = 0;   // final cells of this frame
    int32_t linkCount = 0;    // candidate links of this frame
    int32_t voronoiPairCount = 0;
    // Run-wide identity counter.
    int32_t nextCellId = 0;

private:
    // One int32 block of the plan: the member that receives it, its entry count and its pages.
    struct Block {
        int32_t* Workspace::*target;
        int64_t entries;
        Pages pages = Pages::huge;
    };
    static constexpr size_t kBlockCount = 20;
    // Every block for a frame of n pixels (n at most kMaxPixels), in reservation order.
    static std::array<Block, kBlockCount> plan(int64_t n);

    std::vector<OwnedBlock<int32_t>> owned_;
    OwnedBlock<int16_t> lists_;
    int64_t requested_ = 0;
};

inline constexpr int64_t kMatrixEntries = 4000000;
inline constexpr int64_t kMinScratchInts = 5000000;

}  // namespace vanto
