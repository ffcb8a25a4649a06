#pragma once
#include <cstdint>
#include <ostream>

#include "measure/diffusion.h"
#include "measure/motion_measures.h"
#include "model/frame_history.h"

namespace vanto {

// Sums of one group of cells: "Mutch" (smallFlag 0) or all cells of the frame.
struct GroupSums {
    int32_t count = 0;
    int32_t size = 0, circumference = 0, life = 0;
    double circularity = 0;
    int32_t stepCount = 0;  // cells with a current step
    double way = 0;         // their Distance (1)
};

// The per-frame accumulators of the "_average.csv" row.
struct AverageSums {
    GroupSums all, mutch;
    int32_t diffuseCount[3] = {};  // present Diffuse (15), (30), (45) of "Mutch" cells
    double diffuseSum[3] = {};
    double thick = 0, thin = 0, aspect = 0;  // "Mutch" only

    void addCell(const int32_t* record, const MotionMeasures& motion, const DiffusionExponents& diffusion);
};

// Direction bin 0 .. 7 (N, NE, E, SE, S, SW, W, NW) of the step of a link entry.
int32_t directionBin(const int32_t* entry);

// Accepted link steps to cells that are not small: "Last 1" over the current frame's slot,
// "Last 30" over the slots of the last 30 frames.
struct DirectionCounts {
    int32_t last1[8] = {};
    int32_t last30[8] = {};
};
DirectionCounts countDirections(const FrameHistory& history, int32_t frame);

// The frame's 45-field row; ends the line and flushes.
void writeAverageRow(std::ostream& out, int32_t frame, int64_t elapsedMs, const AverageSums& sums,
                     const DirectionCounts& directions);

}  // namespace vanto
