#pragma once
#include <cstdint>
#include <string>

namespace vanto {

// The run configuration, filled once from the command line and read-only afterwards.
struct RunConfig {
    std::string sourcePattern;  // printf pattern of the frame files, one integer conversion
    std::string outputDir;      // folder of the log, the reports and the bitmaps
    int32_t frameCount = 0;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t originX = 0;
    int32_t originY = 0;
    int32_t smallCellArea = 0;
    int32_t threshold = 0;
    bool drawCalculation = false;
    bool drawIds = false;
    bool drawVoronoi = false;
    bool showProgress = false;  // frames done, rate and time left on standard error
    // Track exports: CTC label images and lineage into ctcDir (empty = off), the track and
    // event tables, and the calibration of their physical columns (0 = not given).
    std::string ctcDir;
    bool writeTracks = false;
    double pixelSize = 0;      // micrometres per pixel
    double frameInterval = 0;  // minutes between frames
};

}  // namespace vanto
