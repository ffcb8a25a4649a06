#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Motion of one identity over the last 45 slots of the link history.
struct MotionMeasures {
    int32_t count15 = 0, count30 = 0, count45 = 0;
    double aveWay15 = 0, aveWay30 = 0, aveWay45 = 0;  // present when the count is >= 1
    int32_t lastCount = 0;                             // > 0: the cell has a current step
    double angle1 = 0, distance1 = 0;
    double angle45 = 0, distance45 = 0;
};

MotionMeasures measureMotion(const Workspace& ws, int32_t frame, int32_t cellId);

}  // namespace vanto
