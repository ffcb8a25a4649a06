#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include "export/ctc_export.h"
#include "export/event_report.h"
#include "export/run_record.h"
#include "export/track_table.h"
#include "model/run_config.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"

namespace vanto {

// The track outputs of -ctc and -tracks, fed once per analysed frame. Does nothing when
// neither option is given.
class TrackExports {
public:
    // Opens "_events.csv" (with -tracks) and readies the masks (with -ctc, in a folder the
    // run's checks prepared) for a run of frameCount frames. Warnings go to warnings and into
    // record. False with error set when a file cannot be created.
    bool open(const RunConfig& config, int32_t frameCount, RunRecord& record, std::ostream& warnings,
              std::string& error);

    // After tracking of frame (in order, before the frames are exchanged): the frame's mask
    // and event row, and the track table, from the final cells and the history (whose previous
    // cells are still the frame before). False with error set when a write failed.
    bool frame(const FrameCells& cells, const FrameHistory& history, int32_t frame, std::string& error);

    // Closes the event table and writes "_tracks.csv" and res_track.txt for the frames
    // recorded. Tracks present in the last of them end "stopped" when stoppedEarly, else
    // "end of series". False with error set when a write failed; goes on with the others.
    bool finish(bool stoppedEarly, std::string& error);

private:
    bool active_ = false;
    bool tracks_ = false;
    bool ctc_ = false;
    bool masksFull_ = false;
    std::string outputDir_;
    TrackTable table_;
    EventReport events_;
    CtcExport ctcExport_;
    RunConfig config_;
    RunRecord* record_ = nullptr;
    std::ostream* warnings_ = nullptr;
};

}  // namespace vanto
