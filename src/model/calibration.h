#pragma once
#include <string>

namespace vanto {

// The physical size of a pixel and the time between frames the run's tables use, and where
// each came from: the options, else what the first frame's file says. Zero and an empty
// origin where neither tells.
struct Calibration {
    double pixelSize = 0;      // micrometres per pixel
    double frameInterval = 0;  // minutes between frames
    std::string pixelSizeFrom;
    std::string frameIntervalFrom;

    bool hasPixelSize() const { return pixelSize > 0; }
    bool hasFrameInterval() const { return frameInterval > 0; }
};

}  // namespace vanto
