#pragma once
#include <string>

#include "export/track_joins.h"
#include "export/track_table.h"
#include "io/status.h"
#include "model/calibration.h"
#include "model/run_config.h"

namespace vanto {

// Writes "_tracks.csv" (replacing one): one row per track in cellId order, columns
// track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size;
// with a pixel size also total_way_um,mean_size_um2,max_size_um2; with a frame interval
// also duration_min; with both also speed_um_per_min (empty for one-frame tracks).
// Parents and children are space-separated cellIds in increasing order. With gap closing
// (closing: -close-gaps given) a joined track is one row under its first track's id, spanning its tracks
// (frames: those it is present in; total_way across the gaps too; fate and children of its
// last track), every id in parents and children is told as its joined id, and two columns
// follow: bridged_frames and joined (the ids of the tracks it continues with). The table must
// be closed. A failure, leaving no file, when it cannot be written whole.
Status writeTrackReport(const std::string& path, const TrackTable& table, const Calibration& units,
                        const TrackJoins& joins, bool closing);

}  // namespace vanto
