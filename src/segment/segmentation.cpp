#include "segment/segmentation.h"

#include "segment/area_filter.h"
#include "segment/cell_splitting.h"
#include "segment/cell_table.h"
#include "segment/contrast_filter.h"
#include "segment/depth_map.h"
#include "segment/edge_cut.h"
#include "segment/foreground_mask.h"
#include "segment/gaussian_smoothing.h"
#include "segment/grow_cells.h"
#include "segment/halo_join.h"
#include "segment/neck_cut.h"
#include "segment/region_completion.h"

namespace vanto {

namespace {

// The cell options, in this order: the edge cut first (and the cell table anew, each piece a
// cell), because it reads each cell's ring as segmented and because a soft rim fills the neck
// between touching cells, which the cut opens for splitting and numbering; splitting touching
// cells by shape, then by gray (each with the cell table anew when one was divided), so that the
// filters judge the divided cells; the ring contrast, the bright parts joined (after the
// contrast, which judges the dark part; the depth map's planes are free by then), growing or
// shrinking, the cell table anew (the changed cells numbered again), the area range (and the
// table once more when it dropped a cell). gray: the segmentation's view of the frame. Returns
// the new curCount.
int32_t refineCells(SegmentScratch& s, const uint8_t* gray, const RunConfig& config) {
    if (config.edgeCut > 0 &&
        cutCellEdges(s.segLabels, s.width, s.height, s.curCount, gray, config.edgeCut, s.innerHistogram,
                     s.ringHistogram) > 0 &&
        buildCellTable(s, config.smallCellArea) == kCellLimit)
        return kCellLimit;
    if (config.splitDepth > 0) {
        const SplitPlanes planes{s.splitDistance, s.splitMarks,    s.splitHeights,
                                 s.splitOrder,    s.splitQueue,    s.splitEnvelope};
        const int32_t divided =
            splitTouchingCells(s.segLabels, s.width, s.height, s.cellTable, s.curCount, config.splitDepth, planes);
        if (divided > 0 && buildCellTable(s, config.smallCellArea) == kCellLimit) return kCellLimit;
    }
    if (config.splitGray > 0) {
        grayHeights(gray, s.width, s.height, s.optionPlane, s.splitHeights);
        const SplitPlanes planes{s.splitDistance, s.splitMarks,    nullptr,
                                 s.splitOrder,    s.splitQueue,    s.splitEnvelope};
        const int32_t divided =
            splitCellsByGray(s.segLabels, s.width, s.height, s.cellTable, s.curCount, s.splitHeights, config.splitGray,
                             planes);
        if (divided > 0 && buildCellTable(s, config.smallCellArea) == kCellLimit) return kCellLimit;
    }
    if (config.minContrast > 0)
        dropLowContrastCells(s.segLabels, s.width, s.height, s.curCount, gray, config.minContrast, s.innerHistogram,
                             s.ringHistogram);
    if (config.halo > 0) {
        OffsetSteps steps;
        buildOffsetSteps(s.tables, s.width, steps);
        joinHalos(s.segLabels, s.width, s.height, s.curCount, gray, config.halo, config.haloCells, steps,
                  {s.workPlane, s.scratchInts, s.depthPlane, s.innerHistogram});
    }
    growCells(s.segLabels, s.width, s.height, config.grow, s.optionPlane);
    int32_t count = buildCellTable(s, config.smallCellArea);
    if ((config.minArea > 0 || config.maxArea > 0) && count < kCellLimit &&
        dropCellsByArea(s.segLabels, s.pixelCount, s.cellTable, count, config.minArea, config.maxArea) > 0)
        count = buildCellTable(s, config.smallCellArea);
    return count;
}

}  // namespace

int32_t segmentFrame(SegmentScratch& scratch, FrameInFlight& frame, const RunConfig& config) {
    scratch.segLabels = frame.segLabels;
    scratch.cellTable = frame.cellTable;
    scratch.regionCount = 0;
    scratch.curCount = 0;
    const uint8_t* gray = frame.gray();
    if (config.invert) {
        for (int64_t p = 0; p < scratch.pixelCount; ++p) scratch.invertedGray[p] = static_cast<uint8_t>(255 - gray[p]);
        gray = scratch.invertedGray;
    }
    if (config.smoothSigma > 0) {
        smoothGray(gray, scratch.width, scratch.height, config.smoothSigma, scratch.optionPlane, scratch.smoothedGray);
        gray = scratch.smoothedGray;
    }
    computeDepthMap(scratch, gray);
    buildForegroundMask(scratch, config.threshold);
    cutNecksAndLabel(scratch);
    completeRegions(scratch);
    frame.curCount = buildCellTable(scratch, config.smallCellArea);
    if (refinesCells(config) && frame.curCount < kCellLimit) frame.curCount = refineCells(scratch, gray, config);
    return frame.curCount;
}

}  // namespace vanto
