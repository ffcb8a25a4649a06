#pragma once
#include <cstdint>

namespace vanto {

// The cells of the frame being tracked and measured. The blocks belong to the Workspace.
// Workspace::takeSegmentation hands in segLabels, cellTable and curCount from segmentation;
// tracking rewrites segLabels and cellTable in place and writes frameLabels, finalCount and
// linkCount; the Voronoi stages write nearestCellMap, the voronoiArea words and the pairs;
// drawing and reports read. Workspace::exchangeFrames turns frameLabels, cellTable and
// finalCount into the FrameHistory's previous ones at the end of the frame.
struct FrameCells {
    int32_t width = 0;
    int32_t height = 0;
    int64_t pixelCount = 0;

    int32_t* segLabels = nullptr;       // segmentation labels, relabelled by tracking
    int32_t* frameLabels = nullptr;     // final labels: cell index of each pixel, or -1
    int32_t* cellTable = nullptr;       // kTableRecords records: segmentation, then final cells
    int32_t* nearestCellMap = nullptr;  // index of the final cell nearest each pixel
    // kMatrixEntries, read only within the stage that wrote it, in turn: overlap counts of
    // (previous, current) pairs, then the adjacency of the current cells (a * curCount + b),
    // then the label map of labelFinalCells (first kTableRecords entries), then the Voronoi
    // pair flags.
    int32_t* pairMatrix = nullptr;
    // Touching Voronoi region pairs (keys max * n + min); a frame has fewer than 2 * pixelCount + 4.
    int32_t* voronoiPairs = nullptr;

    int32_t curCount = 0;    // segmentation records of this frame
    int32_t finalCount = 0;  // final cells of this frame
    int32_t linkCount = 0;   // candidate links of this frame
    int32_t voronoiPairCount = 0;
};

}  // namespace vanto
