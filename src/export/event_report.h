#pragma once
#include <string>

#include "io/output_file.h"
#include "export/csv_line.h"
#include "export/track_table.h"
#include "model/run_config.h"

namespace vanto {

// "_events.csv": one row per analysed frame, written as the frame ends. Columns
// frame,cells,small_cells,new,lost,splits,merges,continuing, then time_min when a frame
// interval is given and mean_size_um2 when a pixel size is given.
class EventReport {
public:
    // Creates the file (replacing one) and writes the header; false with error set on failure.
    bool open(const std::string& path, const RunConfig& config, std::string& error);
    // Appends the frame's row; false with error set when the stream has failed.
    bool writeRow(const FrameEvents& events, std::string& error);
    // Flushes and closes; false with error set when any write failed. Does nothing when closed.
    bool close(std::string& error);

private:
    TextOutputFile out_;
    std::string path_;
    CsvLine line_;
    double pixelSize_ = 0;
    double frameInterval_ = 0;
};

}  // namespace vanto
