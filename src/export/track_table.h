#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// How a track (one cellId) ended.
enum class TrackFate : uint8_t {
    alive,        // still present in the last frame recorded
    split,        // its last cell's accepted links led to several cells, none of which kept its identity
    merged,       // its last cell and others were linked to one cell with a fresh identity
    lost,         // its last cell had no accepted link to the next frame
    endOfSeries,  // present in the last frame of a run that analysed every frame
    stopped,      // present in the last frame analysed by a run that stopped early
};

const char* fateName(TrackFate fate);

struct Track {
    int32_t firstFrame = 0;  // 1-based frame numbers, as in the reports
    int32_t lastFrame = 0;
    int64_t sizeSum = 0;  // pixels over all frames
    int32_t maxSize = 0;
    int32_t totalWay = 0;  // hundredths of a pixel, as the last cell's record holds it
    TrackFate fate = TrackFate::alive;
    // Centres (pixels, as the cell report gives them) in its first and last frame.
    int32_t firstX = 0;
    int32_t firstY = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
};

// The counts of one frame (the event table's row).
struct FrameEvents {
    int32_t frame = 0;
    int32_t cells = 0;       // final cells, small ones included
    int32_t smallCells = 0;
    int32_t fresh = 0;       // cells with a fresh identity
    int32_t lost = 0;        // identities of the previous frame that did not continue
    int32_t splits = 0;      // previous cells that split into several cells
    int32_t merges = 0;      // cells formed from several previous cells
    int32_t continuing = 0;  // cells that carried an identity over an exclusive link
    int64_t sizeSum = 0;     // pixels of all cells
};

// Tracks and lineage built frame by frame from the tracking results. Memory grows with the
// number of tracks and lineage links (amortised vector growth); the per-frame scratch is
// reserved once by the constructor.
class TrackTable {
public:
    TrackTable();

    // Reads the frame's final cellTable records 0 .. finalCount - 1 (cellId, size, smallFlag,
    // totalWay, centre), history's prevCellTable cellIds and nextCellId, and the accepted (linkState 2) entries of slot, which
    // carryIdentities has brought to the final numbering. Must be called for every frame in
    // order, after tracking and before the frames are exchanged. A cell is fresh when its
    // cellId was given in this frame; its parents are the distinct previous cells its accepted
    // links lead back to. A previous cell whose identity did not continue ends with fate
    // lost (no accepted link), merged (one linked cell, which has several parents) or split.
    // Returns the frame's counts.
    const FrameEvents& recordFrame(const FrameCells& cells, const FrameHistory& history, int32_t frame,
                                   const int32_t* slot);

    // The frame last recorded stays (commit), or the table goes back to how it stood before
    // it (roll back): a frame whose outputs failed leaves no trace in the tracks or lineage.
    void commitFrame() {
        undo_.clear();
        pending_ = false;
    }
    void rollBackFrame();

    // Gives the tracks present in the last recorded frame their final fate (endOfSeries, or
    // stopped when the run stopped early). Call once, after the last frame.
    void close(bool stoppedEarly);

    const std::vector<Track>& tracks() const { return tracks_; }
    int32_t lastFrame() const { return lastFrame_; }

    // Lineage links as (parent cellId, child cellId), ordered by child, then parent.
    const std::vector<std::pair<int32_t, int32_t>>& lineage() const { return lineage_; }

    // The parents of track id: a range of lineage(), empty when it has none.
    std::pair<size_t, size_t> parentRange(int32_t id) const;

private:
    std::vector<Track> tracks_;
    std::vector<std::pair<int32_t, int32_t>> lineage_;
    int32_t idsBefore_ = 0;  // identities given before the current frame
    int32_t lastFrame_ = 0;
    FrameEvents events_;
    // What the frame being recorded changed: tracks as they stood before it (earliest first),
    // and the sizes and counters to go back to. Reserved once.
    void keepForUndo(int32_t id) {
        if (static_cast<size_t>(id) < tracksBefore_) undo_.emplace_back(id, tracks_[static_cast<size_t>(id)]);
    }
    std::vector<std::pair<int32_t, Track>> undo_;
    size_t tracksBefore_ = 0;
    size_t lineageBefore_ = 0;
    int32_t idsBeforeFrame_ = 0;
    int32_t lastFrameBefore_ = 0;
    bool pending_ = false;  // a frame is recorded but neither committed nor rolled back
    // Per-frame scratch: accepted (current, previous) index pairs, and the distinct linked
    // cells of each previous and current cell.
    std::vector<std::pair<int32_t, int32_t>> pairs_;
    std::vector<int32_t> childCount_;
    std::vector<int32_t> parentCount_;
    std::vector<int32_t> onlyChild_;
};

}  // namespace vanto
