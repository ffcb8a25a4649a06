#include "segment/segmentation.h"

#include "segment/cell_table.h"
#include "segment/depth_map.h"
#include "segment/foreground_mask.h"
#include "segment/neck_cut.h"
#include "segment/region_completion.h"

namespace vanto {

int32_t segmentFrame(Workspace& ws, const uint8_t* gray, const RunConfig& config) {
    computeDepthMap(ws, gray);
    buildForegroundMask(ws, config.threshold);
    cutNecksAndLabel(ws);
    completeRegions(ws);
    return buildCellTable(ws, config.smallCellArea);
}

}  // namespace vanto
