#pragma once
#include <cstdint>

namespace vanto {

// Result of nearestLabelsAcrossFrames, read by the link candidate search: for each pixel of a
// previous cell, the nearest current label around it (curNearPrev), and for each pixel of a
// current cell, the nearest previous label (prevNearCur); -1 where there is none.
struct CrossFrameNearest {
    int32_t* curNearPrev;
    int32_t* prevNearCur;
};

// Planes of the hole filling after relabelling: a byte state per pixel, a work plane and the
// flood queue.
struct HoleFillScratch {
    uint8_t* areaState;
    int32_t* fillPlane;
    int32_t* queue;
};

// Working memory of tracking, measuring and the benchmark's stages: nothing in it survives a
// frame, and each stage may overwrite what the one before left, except where a stage hands a
// result to the next through one of the views below. The blocks belong to the Workspace.
struct TrackScratch {
    // The two pixel planes, as the stages of a frame use them in turn.
    CrossFrameNearest crossFrameNearest() const { return {planeA, planeB}; }
    HoleFillScratch holeFill() const { return {reinterpret_cast<uint8_t*>(planeA), planeB, scratchInts}; }

    int32_t* planeA = nullptr;  // pixelCount entries
    int32_t* planeB = nullptr;  // pixelCount entries

    // scratchCapacity entries: flood queues and lists (regions of tracking: ScratchRegion).
    int32_t* scratchInts = nullptr;
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
};

}  // namespace vanto
