#pragma once
#include <cstdint>
#include <ostream>

#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/track_scratch.h"

namespace vanto {

void writeCellReportHeader(std::ostream& out);
void writeAverageReportHeader(std::ostream& out);

// The per-cell loop of frame number frame in table order: motion and diffusion measures, a
// "_cell.csv" row for every cell that is not small, then the frame's "_average.csv" row with
// the time since startMarkMs (monotonic milliseconds). Reads the final cells and the link
// history; borrows scratch.scratchInts, which is free while a frame is reported, for the
// per-cell lists of track steps.
void reportFrame(const FrameCells& cells, const FrameHistory& history, TrackScratch& scratch, int32_t frame,
                 int64_t startMarkMs, std::ostream& cellReport, std::ostream& averageReport);

}  // namespace vanto
