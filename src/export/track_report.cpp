#include "export/track_report.h"

#include <algorithm>
#include <vector>

#include "export/csv_line.h"
#include "io/output_check.h"

namespace vanto {

Status writeTrackReport(const std::string& path, const TrackTable& table, const Calibration& units) {
    const double px = units.pixelSize;
    const double minutes = units.frameInterval;
    TextOutputFile out;
    if (Status opened = openChecked(out, path); !opened.ok()) return opened;
    out << "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size";
    if (px > 0) out << ",total_way_um,mean_size_um2,max_size_um2";
    if (minutes > 0) out << ",duration_min";
    if (px > 0 && minutes > 0) out << ",speed_um_per_min";
    out << '\n';

    // Lineage by parent, for the children column.
    std::vector<std::pair<int32_t, int32_t>> byParent(table.lineage().begin(), table.lineage().end());
    std::sort(byParent.begin(), byParent.end());
    auto nextChild = byParent.begin();

    CsvLine line;
    const auto& tracks = table.tracks();
    for (size_t id = 0; id < tracks.size(); ++id) {
        const Track& t = tracks[id];
        const int32_t frames = t.lastFrame - t.firstFrame + 1;
        line.clear();
        line.field(static_cast<int64_t>(id));
        line.field(int64_t{t.firstFrame});
        line.field(int64_t{t.lastFrame});
        line.field(int64_t{frames});
        const auto [first, last] = table.parentRange(static_cast<int32_t>(id));
        if (first == last) line.empty();
        for (size_t k = first; k < last; ++k) line.listItem(table.lineage()[k].first, k == first);
        line.field(fateName(t.fate));
        bool firstChild = true;
        for (; nextChild != byParent.end() && nextChild->first == static_cast<int32_t>(id); ++nextChild) {
            line.listItem(nextChild->second, firstChild);
            firstChild = false;
        }
        if (firstChild) line.empty();
        line.hundredths(t.totalWay);
        const double meanSize = static_cast<double>(t.sizeSum) / frames;
        line.field(meanSize, 3);
        line.field(int64_t{t.maxSize});
        const double way = t.totalWay / 100.0 * px;
        if (px > 0) {
            line.field(way, 4);
            line.field(meanSize * px * px, 4);
            line.field(t.maxSize * px * px, 4);
        }
        const double duration = (frames - 1) * minutes;
        if (minutes > 0) line.field(duration, 4);
        if (px > 0 && minutes > 0) {
            if (frames > 1) line.field(way / duration, 4);
            else line.empty();
        }
        line.writeTo(out);
    }
    return closeWhole(out);
}

}  // namespace vanto
