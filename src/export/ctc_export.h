#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "export/track_joins.h"
#include "export/track_table.h"
#include "io/frame_output.h"
#include "io/status.h"
#include "model/frame_cells.h"

struct tiff;
struct TIFFOpenOptions;

namespace vanto {

// Cell Tracking Challenge results: a 16-bit label image per frame and the lineage file
// res_track.txt. A cell's label is its cellId + 1; frame j is mask index j - 1.
class CtcExport {
public:
    CtcExport() = default;
    ~CtcExport();
    CtcExport(const CtcExport&) = delete;
    CtcExport& operator=(const CtcExport&) = delete;

    // Whether dir can take the results: missing, or a folder that holds nothing but plain files
    // named in replaced (paths of files removed before the run starts). False with error set
    // otherwise. Creates nothing.
    static bool checkFolder(const std::string& dir, const std::vector<std::string>& replaced, std::string& error);
    // Creates dir (with its parents) when it is missing. False with error set when it cannot.
    static bool createFolder(const std::string& dir, std::string& error);

    // Reserves the row and path buffers. Masks are named mask%03d.tif, or mask%04d.tif when
    // frameCount exceeds 1,000.
    void open(const std::string& dir, int32_t frameCount, int32_t width, int32_t height);

    // False when a label of the frame's cells would not fit in 16 bits: the masks then end
    // with the previous frame.
    static bool labelsFit(const FrameCells& cells);

    // Writes the mask of frame from cells.frameLabels and the cellIds of cells.cellTable
    // (deflate-compressed rows); a failure when the file could not be written whole. The mask
    // stays once committed; a frame rolled back removes it (a partial one too).
    Status writeMask(const FrameCells& cells, int32_t frame);
    void commitFrame();
    void rollBackFrame();

    // Writes res_track.txt, one "L B E P" line per track that begins by the last mask written,
    // its end cut to that mask; P is the label of the track's only parent, else 0. A track
    // that continues another across a gap (joins) keeps its label and has that one as its
    // parent, the format's way of telling a gap.
    Status writeLineage(const TrackTable& table, const TrackJoins& joins);

    int32_t lastMaskFrame() const { return lastMaskFrame_; }

private:
    std::string dir_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool fourDigits_ = false;
    int32_t lastMaskFrame_ = 0;  // the last committed mask
    int32_t pendingFrame_ = 0;   // the mask begun in this frame, 0 when none
    FrameFiles pending_;
    std::vector<uint16_t> row_;
    std::vector<char> path_;
    TIFFOpenOptions* options_ = nullptr;
    char tiffMessage_[256] = {};
};

}  // namespace vanto
