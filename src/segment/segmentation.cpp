#include "segment/segmentation.h"

#include "segment/cell_table.h"
#include "segment/depth_map.h"
#include "segment/foreground_mask.h"
#include "segment/neck_cut.h"
#include "segment/region_completion.h"

namespace vanto {

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
    computeDepthMap(scratch, gray);
    buildForegroundMask(scratch, config.threshold);
    cutNecksAndLabel(scratch);
    completeRegions(scratch);
    frame.curCount = buildCellTable(scratch, config.smallCellArea);
    return frame.curCount;
}

}  // namespace vanto
