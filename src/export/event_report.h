#pragma once
#include <string>

#include "io/output_file.h"
#include "export/csv_line.h"
#include "export/track_table.h"
#include "model/calibration.h"
#include "model/run_config.h"

namespace vanto {

// "_events.csv": one row per analysed frame, written as the frame ends. Columns
// frame,cells,small_cells,new,lost,splits,merges,continuing, then time_min when a frame
// interval is given and mean_size_um2 when a pixel size is given.
class EventReport {
public:
    // Creates the file (replacing one) and writes the header.
    Status open(const std::string& path, const Calibration& units);
    // Appends the frame's row and hands it to the file; a failure when the file has failed.
    // The row stays once committed: a frame rolled back takes its row out again.
    Status writeRow(const FrameEvents& events);
    void commitFrame() { out_.commitFrame(); }
    void rollBackFrame() { out_.rollBackFrame(); }
    // Flushes and closes; a failure when a write failed now (the file is cut back to its last
    // committed row after any failure). Does nothing when closed.
    Status close();

private:
    TextOutputFile out_{WholeUnit::marked};
    std::string path_;
    CsvLine line_;
    double pixelSize_ = 0;
    double frameInterval_ = 0;
};

}  // namespace vanto
