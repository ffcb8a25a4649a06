#include "export/track_exports.h"

#include "export/track_report.h"

namespace vanto {

bool TrackExports::open(const RunConfig& config, int32_t frameCount, RunRecord& record, std::ostream& warnings,
                        std::string& error) {
    config_ = config;
    record_ = &record;
    warnings_ = &warnings;
    tracks_ = config.writeTracks;
    ctc_ = !config.ctcDir.empty();
    active_ = tracks_ || ctc_;
    outputDir_ = config.outputDir;
    if (tracks_ && !events_.open(outputDir_ + "/_events.csv", config, error)) return false;
    if (ctc_) ctcExport_.open(config.ctcDir, frameCount, config.frameWidth, config.frameHeight);
    return true;
}

bool TrackExports::frame(const FrameCells& cells, const FrameHistory& history, int32_t frame, std::string& error) {
    if (!active_) return true;
    const FrameEvents& events = table_.recordFrame(cells, history, frame, history.slotAt(frame % kSlotCount));
    if (tracks_ && !events_.writeRow(events, error)) return false;
    if (ctc_ && !masksFull_) {
        const auto result = ctcExport_.writeMask(cells, frame, error);
        if (result == CtcExport::MaskResult::failed) return false;
        if (result == CtcExport::MaskResult::labelsFull) {
            masksFull_ = true;
            const std::string why = "-ctc: track labels of frame " + std::to_string(frame) +
                                    " exceed 65,535; the CTC masks and res_track.txt end with frame " +
                                    std::to_string(frame - 1);
            *warnings_ << "vanto: warning: " << why << '\n' << std::flush;
            record_->addError(why);
        }
    }
    return true;
}

bool TrackExports::finish(bool stoppedEarly, std::string& error) {
    if (!active_) return true;
    active_ = false;
    table_.close(stoppedEarly);
    bool ok = true;
    std::string why;
    auto keep = [&](bool written) {
        if (!written && ok) error = why;
        ok = ok && written;
    };
    if (tracks_) {
        keep(events_.close(why));
        keep(writeTrackReport(outputDir_ + "/_tracks.csv", table_, config_, why));
    }
    if (ctc_) keep(ctcExport_.writeLineage(table_, why));
    return ok;
}

}  // namespace vanto
