#include "measure/frame_report.h"

#include "measure/average_report.h"
#include "measure/cell_report.h"
#include "measure/diffusion.h"
#include "measure/frame_tracks.h"
#include "measure/motion_measures.h"
#include "model/clock.h"
#include "model/records.h"

namespace vanto {

void reportFrame(const FrameCells& cells, const FrameHistory& history, TrackScratch& scratch, int32_t frame,
                 int64_t startMarkMs, std::ostream& cellReport, std::ostream& averageReport) {
    // scratchInts is free while the frame is reported: it holds the frame's track lists.
    FrameTracks tracks;
    const bool listed = tracks.build(cells, history, frame, scratch.scratchInts, scratch.scratchCapacity);

    AverageSums sums;
    for (int32_t i = 0; i < cells.finalCount; ++i) {
        const int32_t* r = cellRecord(cells.cellTable, i);
        MotionMeasures motion;
        DiffusionExponents diffusion;
        const auto measure = [&](const auto& steps) {
            motion = measureMotionOver(steps);
            diffusion = measureDiffusionOver(steps, r[CellWord::life]);
        };
        if (listed) {
            measure(tracks.stepsOf(i));
        } else {
            measure(SlotScanSteps{history, frame, r[CellWord::cellId]});
        }
        if (r[CellWord::smallFlag] == 0) writeCellRow(cellReport, frame, i, r, motion, diffusion);
        sums.addCell(r, motion, diffusion);
    }

    const DirectionCounts directions = countDirections(history, frame);
    writeAverageRow(averageReport, frame, monotonicMs() - startMarkMs, sums, directions);
}

}  // namespace vanto
