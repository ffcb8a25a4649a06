#pragma once
#include <cstdint>

#include "model/workspace.h"

namespace vanto {

// Numbers the connected pieces of equal label of segLabels anew into frameLabels and rewrites
// cellTable from record 0 with the final records (size, circumference, box, centre, widths)
// and the end marker; the label map (relabelled label -> final index, or -1) is left in the
// first kTableRecords entries of pairMatrix. Returns finalCount (also in ws.finalCount), or
// kCellLimit when the frame would have more than 1,999 final cells: the run must then stop
// with "Cell Number Too Much ".
int32_t labelFinalCells(Workspace& ws, int32_t smallCellArea);

}  // namespace vanto
