#pragma once
#include <cstdint>
#include <ostream>

#include "model/workspace.h"

namespace vanto {

void writeCellReportHeader(std::ostream& out);
void writeAverageReportHeader(std::ostream& out);

// The per-cell loop of frame number frame in table order: motion and diffusion measures, a
// "_cell.csv" row for every cell that is not small, then the frame's "_average.csv" row with
// the time since startMarkMs (monotonic milliseconds). Borrows ws.scratchInts, which is free
// while a frame is reported, for the per-cell lists of track steps.
void reportFrame(const Workspace& ws, int32_t frame, int64_t startMarkMs, std::ostream& cellReport,
                 std::ostream& averageReport);

}  // namespace vanto
