#include "export/event_report.h"

#include "io/output_check.h"

namespace vanto {

Status EventReport::open(const std::string& path, const Calibration& units) {
    path_ = path;
    pixelSize_ = units.pixelSize;
    frameInterval_ = units.frameInterval;
    if (Status opened = openChecked(out_, path); !opened.ok()) return opened;
    out_ << "frame,cells,small_cells,new,lost,splits,merges,continuing";
    if (frameInterval_ > 0) out_ << ",time_min";
    if (pixelSize_ > 0) out_ << ",mean_size_um2";
    out_ << '\n';
    out_.markWhole();
    return out_.fault().status();
}

Status EventReport::writeRow(const FrameEvents& e) {
    line_.clear();
    line_.field(int64_t{e.frame});
    line_.field(int64_t{e.cells});
    line_.field(int64_t{e.smallCells});
    line_.field(int64_t{e.fresh});
    line_.field(int64_t{e.lost});
    line_.field(int64_t{e.splits});
    line_.field(int64_t{e.merges});
    line_.field(int64_t{e.continuing});
    if (frameInterval_ > 0) line_.field((e.frame - 1) * frameInterval_, 4);
    if (pixelSize_ > 0) {
        if (e.cells > 0) line_.field(static_cast<double>(e.sizeSum) / e.cells * pixelSize_ * pixelSize_, 4);
        else line_.empty();
    }
    line_.writeTo(out_);
    out_.flush();
    return out_.fault().status();
}

Status EventReport::close() {
    // A failure of an earlier write was returned by that write: only a new one is told here.
    const bool toldAlready = out_.failed();
    out_.close();
    return toldAlready ? Status{} : out_.fault().status();
}

}  // namespace vanto
