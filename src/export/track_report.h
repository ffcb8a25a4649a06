#pragma once
#include <string>

#include "export/track_table.h"
#include "io/status.h"
#include "model/calibration.h"
#include "model/run_config.h"

namespace vanto {

// Writes "_tracks.csv" (replacing one): one row per track in cellId order, columns
// track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size;
// with a pixel size also total_way_um,mean_size_um2,max_size_um2; with a frame interval
// also duration_min; with both also speed_um_per_min (empty for one-frame tracks).
// Parents and children are space-separated cellIds in increasing order. The table must be
// closed. A failure, leaving no file, when it cannot be written whole.
Status writeTrackReport(const std::string& path, const TrackTable& table, const Calibration& units);

}  // namespace vanto
