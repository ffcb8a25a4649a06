#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "export/ctc_export.h"
#include "export/event_report.h"
#include "export/run_record.h"
#include "export/track_joins.h"
#include "export/track_table.h"
#include "io/frame_output.h"
#include "io/status.h"
#include "model/run_config.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// The track outputs of -ctc and -tracks, fed once per analysed frame. Does nothing when
// neither option is given.
class TrackExports : public FrameOutput {
public:
    // Opens "_events.csv" (with -tracks) and readies the masks (with -ctc, in a folder the
    // run's checks prepared) for a run of frameCount frames. Warnings go to warnings and into
    // record. A failure when a file cannot be created.
    Status open(const RunConfig& config, const Calibration& units, int32_t frameCount, RunRecord& record,
                std::ostream& warnings);

    // After tracking of frame (in order, before the frames are exchanged): the frame's event
    // row and the track table, from the final cells and the history (whose previous cells are
    // still the frame before). A failure when a write failed. What the frame wrote stays only
    // once committed. The warning that the masks end (labels beyond 16 bits) waits for
    // tellWarning().
    Status frame(const FrameCells& cells, const FrameHistory& history, int32_t frame);
    // Whether frame() left a mask to write for its frame (-ctc, while the labels fit).
    bool maskDue() const { return ctc_ && !masksFull_; }
    // After frame(), when maskDue(): the frame's CTC mask, from the final cells. Reads the cells
    // and touches nothing frame() or the run's other outputs do, so it may be written beside
    // them until the frame is committed or rolled back. A failure when it could not be written.
    Status writeMask(const FrameCells& cells, int32_t frame) { return ctcExport_.writeMask(cells, frame); }
    // Tells the warning frame() found, if any, on the warnings stream and in the record. The
    // run calls it once it knows that every output ahead of the exports in the frame (the
    // bitmaps, drawn beside them) was written, so that a frame tells what it would in order.
    void tellWarning();
    void commitFrame() override;
    void rollBackFrame() override;

    // Closes the event table and writes "_tracks.csv" and res_track.txt for the frames
    // recorded. Tracks present in the last of them end "stopped" when stoppedEarly, else
    // "end of series". Every failure, in order (an empty list when all went well); a file
    // that failed is removed, or cut back to its last committed frame.
    std::vector<Status> finish(bool stoppedEarly);

    // The tracks joined across gaps (-close-gaps), decided by finish(); none before it or
    // without the option. Tables written at the end tell a track by joins().joinedId(id).
    const TrackJoins& joins() const { return joins_; }
    // The last frame whose CTC mask is committed (0 for none, or without -ctc).
    int32_t lastMaskFrame() const { return ctc_ ? ctcExport_.lastMaskFrame() : 0; }

private:
    bool active_ = false;
    bool tracks_ = false;
    bool ctc_ = false;
    bool masksFull_ = false;
    std::string warning_;  // found by frame(), not told yet
    std::string outputDir_;
    TrackTable table_;
    TrackJoins joins_;
    EventReport events_;
    CtcExport ctcExport_;
    RunConfig config_;
    Calibration units_;
    RunRecord* record_ = nullptr;
    std::ostream* warnings_ = nullptr;
};

}  // namespace vanto
