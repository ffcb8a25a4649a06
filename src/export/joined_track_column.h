#pragma once
#include <string>

#include "export/track_joins.h"
#include "io/status.h"

namespace vanto {

// Tells the tracks of a finished per-cell table (a CSV file with a header, one row per cell)
// under their joined ids: the "track" column becomes joins.joinedId(track) and each id of a
// space-separated "parent_tracks" column likewise (in increasing order). The file is written
// anew beside path and renamed over it, so a failure leaves the table as it was; the table is
// read one line at a time. Nothing is done when joins is empty or the header holds no track
// column. A failure names the file.
Status tellJoinedTracks(const std::string& path, const TrackJoins& joins);

}  // namespace vanto
