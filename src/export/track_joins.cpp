#include "export/track_joins.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace vanto {

namespace {

struct Candidate {
    int64_t distanceSquared;
    int32_t earlier;
    int32_t later;
    bool operator<(const Candidate& o) const {
        return std::tie(distanceSquared, earlier, later) < std::tie(o.distanceSquared, o.earlier, o.later);
    }
};

int64_t squaredDistance(const Track& a, const Track& b) {
    const int64_t dx = int64_t{b.firstX} - a.lastX;
    const int64_t dy = int64_t{b.firstY} - a.lastY;
    return dx * dx + dy * dy;
}

}  // namespace

TrackJoins TrackJoins::decide(const TrackTable& table, int32_t maxGap, double maxDistance) {
    TrackJoins joins;
    const auto& tracks = table.tracks();
    const size_t n = tracks.size();
    joins.root_.resize(n);
    joins.before_.assign(n, -1);
    joins.after_.assign(n, -1);
    for (size_t id = 0; id < n; ++id) joins.root_[id] = static_cast<int32_t>(id);
    if (maxGap <= 0 || n == 0) return joins;

    // Tracks that may continue another, by first frame.
    std::vector<std::pair<int64_t, int32_t>> starts;
    for (size_t id = 0; id < n; ++id) {
        const auto [first, last] = table.parentRange(static_cast<int32_t>(id));
        if (first == last) starts.emplace_back(tracks[id].firstFrame, static_cast<int32_t>(id));
    }
    std::sort(starts.begin(), starts.end());

    const double limit = maxDistance * maxDistance;
    std::vector<Candidate> candidates;
    for (size_t id = 0; id < n; ++id) {
        const Track& a = tracks[id];
        if (a.fate != TrackFate::lost) continue;
        const int64_t earliest = int64_t{a.lastFrame} + 2;
        const int64_t latest = int64_t{a.lastFrame} + 1 + maxGap;
        auto it = std::lower_bound(starts.begin(), starts.end(), std::pair<int64_t, int32_t>(earliest, -1));
        for (; it != starts.end() && it->first <= latest; ++it) {
            const int64_t d2 = squaredDistance(a, tracks[static_cast<size_t>(it->second)]);
            if (static_cast<double>(d2) <= limit) candidates.push_back({d2, static_cast<int32_t>(id), it->second});
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const Candidate& c : candidates) {
        if (joins.after_[static_cast<size_t>(c.earlier)] >= 0 || joins.before_[static_cast<size_t>(c.later)] >= 0) continue;
        joins.after_[static_cast<size_t>(c.earlier)] = c.later;
        joins.before_[static_cast<size_t>(c.later)] = c.earlier;
        ++joins.joinCount_;
    }
    // Every track of a joined track is told under its first one.
    for (size_t id = 0; id < n; ++id) {
        if (joins.before_[id] >= 0) continue;
        for (int32_t next = joins.after_[id]; next >= 0; next = joins.after_[static_cast<size_t>(next)])
            joins.root_[static_cast<size_t>(next)] = static_cast<int32_t>(id);
    }
    return joins;
}

JoinedTrack joinedTrack(const TrackTable& table, const TrackJoins& joins, int32_t id) {
    const auto& tracks = table.tracks();
    JoinedTrack j;
    j.firstId = id;
    const Track* previous = nullptr;
    for (int32_t k = id; k >= 0; k = joins.after(k)) {
        const Track& t = tracks[static_cast<size_t>(k)];
        if (previous) {
            j.bridgedFrames += t.firstFrame - previous->lastFrame - 1;
            const double bridge = std::sqrt(static_cast<double>(squaredDistance(*previous, t)));
            j.totalWay += static_cast<int32_t>(bridge * 100.0);
        } else {
            j.firstFrame = t.firstFrame;
        }
        j.lastId = k;
        j.lastFrame = t.lastFrame;
        j.frames += t.lastFrame - t.firstFrame + 1;
        j.sizeSum += t.sizeSum;
        j.maxSize = std::max(j.maxSize, t.maxSize);
        j.totalWay += t.totalWay;
        j.fate = t.fate;
        previous = &t;
    }
    return j;
}

}  // namespace vanto
