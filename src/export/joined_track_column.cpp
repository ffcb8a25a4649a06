#include "export/joined_track_column.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "io/output_file.h"

namespace vanto {

namespace {

// The index of name among the header's comma-separated fields; -1 when absent.
int fieldIndex(const std::string& header, const char* name) {
    int index = 0;
    size_t start = 0;
    while (true) {
        const size_t end = std::min(header.find(',', start), header.size());
        if (header.compare(start, end - start, name) == 0 && std::strlen(name) == end - start) return index;
        if (end == header.size()) return -1;
        start = end + 1;
        ++index;
    }
}

bool parseId(const char* first, const char* last, int32_t& id) {
    const auto [end, error] = std::from_chars(first, last, id);
    return error == std::errc() && end == last;
}

void appendId(std::string& out, int32_t id) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, id);
    (void)error;
    out.append(digits, end);
}

// Appends field (first .. last) told under joined ids: one id for the track column, a list
// for the parents. A field that is not an id (an empty list) is kept as it is.
void appendJoined(std::string& out, const char* first, const char* last, bool list, const TrackJoins& joins,
                  std::vector<int32_t>& ids) {
    ids.clear();
    const char* p = first;
    while (p < last) {
        const char* end = list ? std::find(p, last, ' ') : last;
        int32_t id = 0;
        if (!parseId(p, end, id)) {
            out.append(first, last);
            return;
        }
        ids.push_back(joins.joinedId(id));
        p = end == last ? last : end + 1;
    }
    std::sort(ids.begin(), ids.end());
    for (size_t k = 0; k < ids.size(); ++k) {
        if (k) out.push_back(' ');
        appendId(out, ids[k]);
    }
}

}  // namespace

Status tellJoinedTracks(const std::string& path, const TrackJoins& joins) {
    if (joins.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::outputFailure("cannot read \"" + path + "\" to tell its joined tracks");
    std::string line;
    if (!std::getline(in, line)) return {};
    const int trackField = fieldIndex(line, "track");
    const int parentField = fieldIndex(line, "parent_tracks");
    if (trackField < 0) return {};

    const std::string joinedPath = path + ".joining";
    OutputFile out;
    if (!out.open(joinedPath)) return out.fault().status();
    std::string row = line + '\n';
    std::vector<int32_t> ids;
    bool written = out.write(row.data(), row.size());
    while (written && std::getline(in, line)) {
        row.clear();
        int field = 0;
        size_t start = 0;
        while (true) {
            const size_t end = std::min(line.find(',', start), line.size());
            const char* first = line.data() + start;
            const char* last = line.data() + end;
            if (field == trackField || field == parentField) {
                appendJoined(row, first, last, field == parentField, joins, ids);
            } else {
                row.append(first, last);
            }
            if (end == line.size()) break;
            row.push_back(',');
            start = end + 1;
            ++field;
        }
        row.push_back('\n');
        written = out.write(row.data(), row.size());
    }
    if (!in.eof() || !written || !out.close()) {
        const Status failed = out.failed() ? out.fault().status()
                                           : Status::outputFailure("cannot read \"" + path + "\" to tell its joined tracks");
        out.discard();
        return failed;
    }
    if (std::rename(joinedPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        out.discard();
        return Status::outputFailure("cannot replace \"" + path + "\": " + std::strerror(error));
    }
    return {};
}

}  // namespace vanto
