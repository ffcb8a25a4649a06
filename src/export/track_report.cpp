#include "export/track_report.h"

#include <algorithm>
#include <vector>

#include "export/csv_line.h"
#include "io/output_check.h"

namespace vanto {

namespace {

// A space-separated list of ids as they are told (joined ids), in increasing order; an empty
// field for none.
void idList(CsvLine& line, std::vector<int32_t>& ids, const TrackJoins& joins) {
    for (int32_t& id : ids) id = joins.joinedId(id);
    std::sort(ids.begin(), ids.end());
    if (ids.empty()) line.empty();
    for (size_t k = 0; k < ids.size(); ++k) line.listItem(ids[k], k == 0);
}

}  // namespace

Status writeTrackReport(const std::string& path, const TrackTable& table, const Calibration& units,
                        const TrackJoins& joins, bool closing) {
    const double px = units.pixelSize;
    const double minutes = units.frameInterval;
    TextOutputFile out;
    if (Status opened = openChecked(out, path); !opened.ok()) return opened;
    out << "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size";
    if (px > 0) out << ",total_way_um,mean_size_um2,max_size_um2";
    if (minutes > 0) out << ",duration_min";
    if (px > 0 && minutes > 0) out << ",speed_um_per_min";
    if (closing) out << ",bridged_frames,joined";
    out << '\n';

    // Lineage by parent, for the children column.
    std::vector<std::pair<int32_t, int32_t>> byParent(table.lineage().begin(), table.lineage().end());
    std::sort(byParent.begin(), byParent.end());

    CsvLine line;
    std::vector<int32_t> ids;
    const auto& tracks = table.tracks();
    for (size_t id = 0; id < tracks.size(); ++id) {
        if (joins.before(static_cast<int32_t>(id)) >= 0) continue;  // told with the track it continues
        const JoinedTrack t = joinedTrack(table, joins, static_cast<int32_t>(id));
        line.clear();
        line.field(static_cast<int64_t>(id));
        line.field(int64_t{t.firstFrame});
        line.field(int64_t{t.lastFrame});
        line.field(int64_t{t.frames});
        const auto [first, last] = table.parentRange(static_cast<int32_t>(id));
        ids.clear();
        for (size_t k = first; k < last; ++k) ids.push_back(table.lineage()[k].first);
        idList(line, ids, joins);
        line.field(fateName(t.fate));
        ids.clear();
        auto child = std::lower_bound(byParent.begin(), byParent.end(), std::pair<int32_t, int32_t>(t.lastId, -1));
        for (; child != byParent.end() && child->first == t.lastId; ++child) ids.push_back(child->second);
        idList(line, ids, joins);
        line.hundredths(t.totalWay);
        const double meanSize = static_cast<double>(t.sizeSum) / t.frames;
        line.field(meanSize, 3);
        line.field(int64_t{t.maxSize});
        const double way = t.totalWay / 100.0 * px;
        if (px > 0) {
            line.field(way, 4);
            line.field(meanSize * px * px, 4);
            line.field(t.maxSize * px * px, 4);
        }
        const double duration = (t.lastFrame - t.firstFrame) * minutes;
        if (minutes > 0) line.field(duration, 4);
        if (px > 0 && minutes > 0) {
            if (t.lastFrame > t.firstFrame) line.field(way / duration, 4);
            else line.empty();
        }
        if (closing) {
            line.field(int64_t{t.bridgedFrames});
            bool firstJoined = true;
            for (int32_t k = joins.after(static_cast<int32_t>(id)); k >= 0; k = joins.after(k)) {
                line.listItem(k, firstJoined);
                firstJoined = false;
            }
            if (firstJoined) line.empty();
        }
        line.writeTo(out);
    }
    return closeWhole(out);
}

}  // namespace vanto
