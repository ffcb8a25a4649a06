#pragma once
#include <cmath>
#include <cstdint>

#include "measure/track_steps.h"
#include "model/records.h"

namespace vanto {

// Pi as used for every radians-to-degrees conversion of the measures.
inline constexpr double kDegreePi = 3.1415927;

// Direction of the step from (x0, y0) to (x1, y1) in degrees, -180 to 180, +90 down the image.
inline double stepAngle(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return std::atan2(static_cast<double>(y1 - y0), static_cast<double>(x1 - x0)) / kDegreePi * 180;
}

// Squared distance summed in 32-bit integer arithmetic (wrapping like the running sums).
inline int32_t squaredDistance(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t dx = int64_t{x1} - x0;
    const int64_t dy = int64_t{y1} - y0;
    return static_cast<int32_t>(dx * dx + dy * dy);
}

// Motion of one identity over the last 45 slots of the link history.
struct MotionMeasures {
    int32_t count15 = 0, count30 = 0, count45 = 0;
    double aveWay15 = 0, aveWay30 = 0, aveWay45 = 0;  // present when the count is >= 1
    int32_t lastCount = 0;                             // > 0: the cell has a current step
    double angle1 = 0, distance1 = 0;
    double angle45 = 0, distance45 = 0;
};

// The measures over the given track steps (see track_steps.h), visited oldest first.
template <class Steps>
MotionMeasures measureMotionOver(const Steps& steps) {
    MotionMeasures m;
    int32_t startX = -1, startY = -1, endX = -1, endY = -1;
    double sum15 = 0, sum30 = 0, sum45 = 0;
    steps([&](int32_t back, const int32_t* e) {
        const int32_t px = e[LinkWord::prevX], py = e[LinkWord::prevY];
        const int32_t cx = e[LinkWord::curX], cy = e[LinkWord::curY];
        const double len = std::sqrt(static_cast<double>(squaredDistance(px, py, cx, cy)));
        if (startX == -1) {
            startX = px;
            startY = py;
        }
        if (back == 0) {
            ++m.lastCount;
            m.distance1 = len;
            m.angle1 = stepAngle(px, py, cx, cy);
            endX = cx;
            endY = cy;
        }
        if (back < 15) {
            ++m.count15;
            sum15 += len;
        }
        if (back < 30) {
            ++m.count30;
            sum30 += len;
        }
        ++m.count45;
        sum45 += len;
    });
    if (m.count15 >= 1) m.aveWay15 = sum15 / m.count15;
    if (m.count30 >= 1) m.aveWay30 = sum30 / m.count30;
    if (m.count45 >= 1) m.aveWay45 = sum45 / m.count45;
    if (m.lastCount > 0) {
        m.angle45 = stepAngle(startX, startY, endX, endY);
        m.distance45 = std::sqrt(static_cast<double>(squaredDistance(startX, startY, endX, endY)));
    }
    return m;
}

}  // namespace vanto
