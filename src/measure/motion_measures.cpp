#include "measure/motion_measures.h"

namespace vanto {

MotionMeasures measureMotion(const Workspace& ws, int32_t frame, int32_t cellId) {
    return measureMotionOver(SlotScanSteps{ws, frame, cellId});
}

}  // namespace vanto
