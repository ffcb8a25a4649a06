#pragma once
#include <cstdint>

#include "model/frame_cells.h"
#include "model/records.h"

namespace vanto {

// Numbers the connected pieces of equal label of segLabels anew into frameLabels and rewrites
// cellTable from record 0 with the final records (size, circumference, box, centre, widths)
// and the end marker; the label map (relabelled label -> final index, or -1) is left in the
// first kTableRecords entries of pairMatrix (see finalLabelMap). queue is a flood queue of
// pixelCount entries. Returns finalCount (also in cells.finalCount), or kCellLimit when the
// frame would have more than 1,999 final cells: the run must then stop with
// "Cell Number Too Much ".
int32_t labelFinalCells(FrameCells& cells, int32_t* queue, int32_t smallCellArea);

// The label map labelFinalCells left, valid until the Voronoi stages reuse the pair matrix.
inline const int32_t* finalLabelMap(const FrameCells& cells) { return cells.pairMatrix; }

}  // namespace vanto
