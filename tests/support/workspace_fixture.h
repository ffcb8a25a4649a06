#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "model/frame_in_flight.h"
#include "model/segment_scratch.h"
#include "model/workspace.h"
#include "segment/neighbourhood.h"
#include "segment/segmentation.h"

namespace vanto::testing {

// A workspace reserved for a w x h frame, with its neighbourhood tables built.
inline std::unique_ptr<Workspace> makeWorkspace(int32_t w, int32_t h) {
    auto ws = std::make_unique<Workspace>();
    EXPECT_TRUE(ws->reserve(w, h));
    TrackScratch& s = ws->scratch;
    buildNeighbourhoodTables(ws->tables, s.scratchInts, s.scratchInts + kWindowOffsets, s.sortStack, s.sortStackRanges);
    return ws;
}

// The neighbourhood tables of a run, built once.
inline const NeighbourhoodTables& runTables() {
    static const NeighbourhoodTables tables = [] {
        NeighbourhoodTables t;
        std::vector<int32_t> scratch(2 * kWindowOffsets), stack(2 * kWindowOffsets);
        buildNeighbourhoodTables(t, scratch.data(), scratch.data() + kWindowOffsets, stack.data(), kWindowOffsets);
        return t;
    }();
    return tables;
}

// A segmentation scratch reserved for a w x h frame, lent the output planes of a frame of its own.
struct SegmentBench : SegmentScratch {
    SegmentBench(int32_t w, int32_t h) : SegmentScratch(runTables()) {
        EXPECT_TRUE(reserve(w, h));
        EXPECT_TRUE(frame.reserve(w, h));
        segLabels = frame.segLabels;
        cellTable = frame.cellTable;
    }
    // All segmentation stages on gray (w x h bytes), as a run segments a frame.
    int32_t segment(const uint8_t* gray, const RunConfig& config) {
        std::copy_n(gray, pixelCount, frame.gray());
        return segmentFrame(*this, frame, config);
    }
    FrameInFlight frame;
};

inline std::unique_ptr<SegmentBench> makeSegmentScratch(int32_t w, int32_t h) {
    return std::make_unique<SegmentBench>(w, h);
}

}  // namespace vanto::testing
