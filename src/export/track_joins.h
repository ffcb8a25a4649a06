#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "export/track_table.h"

namespace vanto {

// Gap closing: a track that ended lost is continued by a track that starts without parents
// a few frames later near where the first one ended, as if the cell had only been missed for
// those frames. The joins are decided once, from the closed track table, and change only how
// the track outputs tell the tracks; identities, masks and reports stay as tracked.
class TrackJoins {
public:
    // No joins: every track stands alone.
    TrackJoins() = default;

    // Decides the joins of a closed table. A candidate pair (a, b): a ended lost in frame f,
    // b has no parents and begins in frame f + 2 .. f + 1 + maxGap (1 .. maxGap frames
    // missing), and b's first centre lies within maxDistance pixels of a's last centre. Pairs
    // are taken in increasing distance (then increasing a, then increasing b), each while
    // neither a has a successor nor b a predecessor yet: one to one, whatever the order of the
    // table. A joined track may bridge several gaps (a, b, c, ...). maxGap 0 joins nothing.
    static TrackJoins decide(const TrackTable& table, int32_t maxGap, double maxDistance);

    // How many gaps were bridged.
    size_t joinCount() const { return joinCount_; }
    bool empty() const { return joinCount_ == 0; }

    // The id a track is told under: the first track of its joined track; the id itself when
    // it was not joined (and for any id the table did not hold).
    int32_t joinedId(int32_t id) const { return at(root_, id, id); }
    // The track that id continues after a gap; -1 when none.
    int32_t before(int32_t id) const { return at(before_, id, -1); }
    // The track that continues id after a gap; -1 when none.
    int32_t after(int32_t id) const { return at(after_, id, -1); }

private:
    static int32_t at(const std::vector<int32_t>& v, int32_t id, int32_t otherwise) {
        return id >= 0 && static_cast<size_t>(id) < v.size() ? v[static_cast<size_t>(id)] : otherwise;
    }
    std::vector<int32_t> root_;
    std::vector<int32_t> before_;
    std::vector<int32_t> after_;
    size_t joinCount_ = 0;
};

// One joined track as a whole: the table's tracks first .. last (by after()) taken together.
struct JoinedTrack {
    int32_t firstId = 0;       // the id it is told under
    int32_t lastId = 0;        // its last track: fate and children are that track's
    int32_t firstFrame = 0;
    int32_t lastFrame = 0;
    int32_t frames = 0;        // frames in which it is present
    int32_t bridgedFrames = 0;  // frames missing between its tracks
    int64_t sizeSum = 0;
    int32_t maxSize = 0;
    // Hundredths of a pixel: the tracks' travelled paths and the straight lines across the
    // gaps (each truncated to hundredths, as the tracker counts a step).
    int64_t totalWay = 0;
    TrackFate fate = TrackFate::alive;
};

// The joined track that begins with track id (which must be the first of its joined track:
// joins.before(id) < 0).
JoinedTrack joinedTrack(const TrackTable& table, const TrackJoins& joins, int32_t id);

}  // namespace vanto
