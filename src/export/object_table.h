#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/csv_line.h"
#include "io/frame_output.h"
#include "io/output_file.h"
#include "io/status.h"
#include "measure/cell_intensities.h"
#include "model/calibration.h"
#include "model/frame_cells.h"
#include "model/frame_history.h"
#include "model/measure_planes.h"

namespace vanto {

// Most planes one table measures: the analysed frame, the channels and the second series.
inline constexpr int32_t kMaxMeasuredPlanes = 64;

// "_objects.csv" of -objects: one row per final cell (small ones included) per analysed frame,
// in the cell report's order; geometry and motion from the cell records and the frame's link
// slot, intensities from the measured planes. Physical columns appear when units are known.
// Everything it keeps is reserved by open(); a frame's rows stay only once committed.
class ObjectTable : public FrameOutput {
public:
    // Reserves what the table keeps for width x height frames. planePrefixes: the column
    // prefix of each measured plane ("" for the analysed frame, "ch2_", "src_"). False when
    // memory cannot be had; bytesFor() tells about how much is asked.
    bool reserve(int32_t width, int32_t height, std::vector<std::string> planePrefixes);
    static int64_t bytesFor(int32_t width, int32_t height, int32_t planes);
    // Opens path and writes the header. A failure when the file cannot be created.
    Status open(const std::string& path, const Calibration& units);

    // After tracking of frame and before the frames are exchanged: reads the final cells and
    // labels, the history's previous cell table and the frame's slot, and planes (swapped in
    // from the frame in flight). A failure when a write failed.
    Status writeFrame(const FrameCells& cells, const FrameHistory& history, const MeasurePlanes& planes,
                      int32_t frame);
    void commitFrame() override;
    void rollBackFrame() override;

    // Closes the file; a failure when any write failed.
    Status close();
    bool isOpen() const { return out_.isOpen(); }

private:
    void writeHeader();
    // The current step of each cell (entry of the frame's slot), -1 for none, and the fresh
    // cells' parent identities.
    void collectLinks(const FrameCells& cells, const FrameHistory& history, int32_t frame);
    void intensityFields(int32_t plane, int32_t cell, bool measured);

    TextOutputFile out_{WholeUnit::marked};
    CsvLine line_;
    Calibration units_;
    std::vector<std::string> prefixes_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    CellIntensities intensities_;
    const float* planeValues_[kMaxMeasuredPlanes] = {};
    bool planeMeasured_[kMaxMeasuredPlanes] = {};
    // Identities given before the frame being written (committed and pending).
    int32_t idsBefore_ = 0;
    int32_t idsPending_ = 0;
    // Per frame, reserved once.
    std::vector<std::pair<int32_t, int32_t>> idOfCell_;  // (identity, cell index), sorted
    std::vector<const int32_t*> stepOf_;                 // per cell: its current step, or null
    std::vector<std::pair<int32_t, int32_t>> parents_;   // (cell index, parent identity), sorted
};

}  // namespace vanto
