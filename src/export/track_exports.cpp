#include "export/track_exports.h"

#include "export/track_report.h"

namespace vanto {

Status TrackExports::open(const RunConfig& config, const Calibration& units, int32_t frameCount, RunRecord& record,
                          std::ostream& warnings) {
    config_ = config;
    units_ = units;
    record_ = &record;
    warnings_ = &warnings;
    tracks_ = config.writeTracks;
    ctc_ = !config.ctcDir.empty();
    active_ = tracks_ || ctc_;
    outputDir_ = config.outputDir;
    if (tracks_) {
        if (Status opened = events_.open(outputDir_ + "/_events.csv", units); !opened.ok()) return opened;
    }
    if (ctc_) ctcExport_.open(config.ctcDir, frameCount, config.frameWidth, config.frameHeight);
    return {};
}

Status TrackExports::frame(const FrameCells& cells, const FrameHistory& history, int32_t frame) {
    if (!active_) return {};
    const FrameEvents& events = table_.recordFrame(cells, history, frame, history.slotAt(frame % kSlotCount));
    if (tracks_) {
        if (Status written = events_.writeRow(events); !written.ok()) return written;
    }
    if (ctc_ && !masksFull_ && !CtcExport::labelsFit(cells)) {
        masksFull_ = true;
        warning_ = "-ctc: track labels of frame " + std::to_string(frame) +
                   " exceed 65,535; the CTC masks and res_track.txt end with frame " + std::to_string(frame - 1);
    }
    return {};
}

void TrackExports::tellWarning() {
    if (warning_.empty()) return;
    *warnings_ << "vanto: warning: " << warning_ << '\n' << std::flush;
    record_->addError(warning_);
    warning_.clear();
}

void TrackExports::commitFrame() {
    table_.commitFrame();
    events_.commitFrame();
    ctcExport_.commitFrame();
}

void TrackExports::rollBackFrame() {
    table_.rollBackFrame();
    events_.rollBackFrame();
    ctcExport_.rollBackFrame();
}

std::vector<Status> TrackExports::finish(bool stoppedEarly) {
    std::vector<Status> failures;
    if (!active_) return failures;
    active_ = false;
    table_.close(stoppedEarly);
    joins_ = TrackJoins::decide(table_, config_.closeGaps, config_.gapDistance);
    auto keep = [&](Status written) {
        if (!written.ok()) failures.push_back(std::move(written));
    };
    if (tracks_) {
        keep(events_.close());
        keep(writeTrackReport(outputDir_ + "/_tracks.csv", table_, units_, joins_, config_.closeGaps > 0));
    }
    if (ctc_) keep(ctcExport_.writeLineage(table_, joins_));
    return failures;
}

}  // namespace vanto
