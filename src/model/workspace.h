#pragma once
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/frame_in_flight.h"
#include "model/huge_pages.h"
#include "model/neighbourhood_tables.h"
#include "model/records.h"
#include "model/track_scratch.h"

namespace vanto {

// The one owner of the memory of tracking, measuring and drawing: reserve() reserves every
// block once and nothing is replaced later. It lends three parts, each with its own role:
// history (kept across frames), cells (the frame being tracked) and scratch (nothing survives
// a stage unless handed on by name); see their types. Planes hold width x height signed
// 32-bit values, pixel (x, y) at y * width + x. Stages take only the parts they use; only the
// driver reserves, begins and exchanges frames. Segmentation works in its own SegmentScratch;
// its output reaches the cells by takeSegmentation.
class Workspace {
public:
    Workspace() = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Reserves every block for a width x height frame; every slot of the link history starts
    // empty. Returns false when memory cannot be had, or at once for a frame of more than
    // kMaxPixels pixels; requestedBytes() then tells how much was asked.
    bool reserve(int32_t frameWidth, int32_t frameHeight);
    int64_t requestedBytes() const { return requested_; }
    // What reserve() asks for in all, without asking; INT64_MAX beyond kMaxPixels pixels.
    static int64_t plannedBytes(int32_t frameWidth, int32_t frameHeight);
    static constexpr int64_t kMaxPixels = INT32_MAX;  // pixel indices are signed 32-bit

    // Start of frame number frame: no links or Voronoi pairs yet, and the frame's slot empty
    // (tracking lists the frame's links before a new end).
    void beginFrame(int32_t frame);

    // Start of frame: the cells' segLabels and cellTable take the frame's planes, which take
    // the ones held here (same sizes, contents dropped), and curCount takes the frame's count.
    void takeSegmentation(FrameInFlight& frame);

    // End of frame: the final labels, cell table and count of the cells become the history's
    // previous ones (the previous blocks come back to the cells, to be overwritten).
    void exchangeFrames();

    FrameHistory history;
    FrameCells cells;
    TrackScratch scratch;
    NeighbourhoodTables tables;  // the run's, built once after reserve()

private:
    // One int32 block of the plan: where its address goes (null when only sizing), its entry
    // count and its pages.
    struct Block {
        int32_t** target;
        int64_t entries;
        Pages pages = Pages::huge;
    };
    static constexpr size_t kBlockCount = 20;
    // Every block for a frame of n pixels (n at most kMaxPixels), in reservation order; the
    // targets are into's members, or null without into.
    static std::array<Block, kBlockCount> plan(int64_t n, Workspace* into);

    std::vector<OwnedBlock<int32_t>> owned_;
    OwnedBlock<int16_t> lists_;
    int64_t requested_ = 0;
};

inline constexpr int64_t kMatrixEntries = 4000000;
inline constexpr int64_t kMinScratchInts = 5000000;

}  // namespace vanto
