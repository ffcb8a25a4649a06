#include "export/track_table.h"

#include <algorithm>

namespace vanto {

const char* fateName(TrackFate fate) {
    switch (fate) {
        case TrackFate::alive: return "alive";
        case TrackFate::split: return "split";
        case TrackFate::merged: return "merged";
        case TrackFate::lost: return "lost";
        case TrackFate::endOfSeries: return "end of series";
        case TrackFate::stopped: return "stopped";
    }
    return "";
}

TrackTable::TrackTable() {
    pairs_.reserve(kLinkLimit);
    undo_.reserve(2 * static_cast<size_t>(kTableRecords));
    childCount_.resize(kTableRecords);
    parentCount_.resize(kTableRecords);
    onlyChild_.resize(kTableRecords);
}

const FrameEvents& TrackTable::recordFrame(const FrameCells& cells, const FrameHistory& history, int32_t frame,
                                           const int32_t* slot) {
    const int32_t count = cells.finalCount;
    const int32_t prevCount = frame > 1 ? history.prevCount : 0;
    undo_.clear();
    pending_ = true;
    tracksBefore_ = tracks_.size();
    lineageBefore_ = lineage_.size();
    idsBeforeFrame_ = idsBefore_;
    lastFrameBefore_ = lastFrame_;
    events_ = FrameEvents{};
    events_.frame = frame;
    events_.cells = count;

    // Distinct accepted pairs, by current cell, then previous cell.
    pairs_.clear();
    if (frame > 1) {
        for (int32_t k = 0; k < cells.linkCount; ++k) {
            const int32_t* e = linkEntry(slot, k);
            if (e[LinkWord::linkState] == kLinkAccepted)
                pairs_.emplace_back(e[LinkWord::curIndex], e[LinkWord::prevIndex]);
        }
    }
    std::sort(pairs_.begin(), pairs_.end());
    pairs_.erase(std::unique(pairs_.begin(), pairs_.end()), pairs_.end());
    std::fill_n(childCount_.begin(), prevCount, 0);
    std::fill_n(parentCount_.begin(), count, 0);
    for (const auto& [c, p] : pairs_) {
        ++parentCount_[c];
        ++childCount_[p];
        onlyChild_[p] = c;
    }

    for (int32_t i = 0; i < count; ++i) {
        const int32_t* rec = cellRecord(cells.cellTable, i);
        const int32_t id = rec[CellWord::cellId];
        const int32_t size = rec[CellWord::size];
        events_.smallCells += rec[CellWord::smallFlag] != 0;
        events_.sizeSum += size;
        if (id >= idsBefore_) {
            // Fresh identities are handed out one after the other, so this appends one track.
            if (static_cast<size_t>(id) >= tracks_.size()) tracks_.resize(static_cast<size_t>(id) + 1);
            Track& fresh = tracks_[static_cast<size_t>(id)];
            fresh = Track{};
            fresh.firstFrame = frame;
            fresh.firstX = rec[CellWord::centerX];
            fresh.firstY = rec[CellWord::centerY];
            ++events_.fresh;
            if (parentCount_[i] >= 2) ++events_.merges;
        }
        keepForUndo(id);
        Track& t = tracks_[static_cast<size_t>(id)];
        t.lastFrame = frame;
        t.sizeSum += size;
        t.maxSize = std::max(t.maxSize, size);
        t.totalWay = rec[CellWord::totalWay];
        t.lastX = rec[CellWord::centerX];
        t.lastY = rec[CellWord::centerY];
    }

    const size_t lineageStart = lineage_.size();
    for (const auto& [c, p] : pairs_) {
        const int32_t child = cellRecord(cells.cellTable, c)[CellWord::cellId];
        if (child >= idsBefore_) lineage_.emplace_back(cellRecord(history.prevCellTable, p)[CellWord::cellId], child);
    }
    std::sort(lineage_.begin() + static_cast<std::ptrdiff_t>(lineageStart), lineage_.end(),
              [](const auto& a, const auto& b) {
                  return a.second != b.second ? a.second < b.second : a.first < b.first;
              });

    for (int32_t p = 0; p < prevCount; ++p) {
        const int32_t id = cellRecord(history.prevCellTable, p)[CellWord::cellId];
        const int32_t children = childCount_[p];
        if (children == 1 && cellRecord(cells.cellTable, onlyChild_[p])[CellWord::cellId] == id) continue;
        TrackFate fate = TrackFate::lost;
        if (children >= 2) fate = TrackFate::split;
        if (children == 1) fate = parentCount_[onlyChild_[p]] >= 2 ? TrackFate::merged : TrackFate::split;
        events_.splits += fate == TrackFate::split;
        keepForUndo(id);
        tracks_[static_cast<size_t>(id)].fate = fate;
    }

    events_.continuing = count - events_.fresh;
    events_.lost = prevCount - events_.continuing;
    idsBefore_ = history.nextCellId;
    lastFrame_ = frame;
    return events_;
}

void TrackTable::rollBackFrame() {
    if (!pending_) return;
    pending_ = false;
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) tracks_[static_cast<size_t>(it->first)] = it->second;
    undo_.clear();
    tracks_.resize(tracksBefore_);
    lineage_.resize(lineageBefore_);
    idsBefore_ = idsBeforeFrame_;
    lastFrame_ = lastFrameBefore_;
}

void TrackTable::close(bool stoppedEarly) {
    for (Track& t : tracks_) {
        if (t.fate == TrackFate::alive && t.lastFrame == lastFrame_)
            t.fate = stoppedEarly ? TrackFate::stopped : TrackFate::endOfSeries;
    }
}

std::pair<size_t, size_t> TrackTable::parentRange(int32_t id) const {
    const auto first =
        std::partition_point(lineage_.begin(), lineage_.end(), [id](const auto& l) { return l.second < id; });
    const auto last = std::partition_point(first, lineage_.end(), [id](const auto& l) { return l.second <= id; });
    return {static_cast<size_t>(first - lineage_.begin()), static_cast<size_t>(last - lineage_.begin())};
}

}  // namespace vanto
