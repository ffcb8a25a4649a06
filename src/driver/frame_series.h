#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "image/frame_loader.h"
#include "image/gray_mapping.h"
#include "model/calibration.h"
#include "model/measure_planes.h"
#include "model/run_config.h"

namespace vanto {

// What the source settles beyond the options, for those who need it: the number of frames the
// run analyses (-count, or a stack read whole: its time points from -first on) and whether
// they are the pages of a stack.
struct SeriesPlan {
    int32_t frameCount = 0;
    bool stack = false;
    std::string refusal;  // why the run must be refused; empty when the source can be read
};

// Where the run's frames come from: a numbered series of files (-source with one integer
// conversion, file numbers from -first) or the pages of one TIFF stack, and how their samples
// become the gray bytes that are analysed. Frame j counts from 1 in either case.
class FrameSeries {
public:
    // Settles the source of config: files or a stack, the frame count (without -count: all of
    // a stack's time points, or every consecutive file from -first on) and a stack's channel.
    // A file series whose frame 1 or frame -count does not exist is refused. The plan is
    // also kept (plan()).
    SeriesPlan resolve(const RunConfig& config);

    // Loads frame 1 as the run will and returns why the run must be refused (a kind of frame
    // that cannot be analysed, a range that is missing, a window outside the image); empty when
    // it can start. A frame 1 that cannot be read at all is left to the frame loop; one that
    // loads is kept, and load() hands it out instead of decoding the file again.
    std::string checkFirstFrame(const RunConfig& config);

    // " (frame 1 is W x H)" when frame 1's header can be read, for a refusal of the window;
    // empty otherwise.
    std::string firstImageSize() const;

    // After resolve: a window width or height that config leaves out (no -w, no -h) runs from
    // -x (-y) to the edge of frame 1's image, and is written into config. Nothing changes when
    // both are given or frame 1's header cannot be read.
    void settleWindow(RunConfig& config);

    bool isStack() const { return stack_; }
    const SeriesPlan& plan() const { return plan_; }
    const GrayMapping& mapping() const { return mapping_; }

    // The file read for frame j, and the name the frame line gives it.
    std::string path(int32_t j) const;
    std::string label(int32_t j) const;

    // Reads frame j into gray (the window of config); callable from several threads at once
    // with one reader each. nanSamples, when given, receives the NaN samples of a frame that
    // loaded (each became the background's gray).
    Status load(FrameReader& reader, int32_t j, uint8_t* gray, size_t* nanSamples = nullptr) const;

    // After checkFirstFrame with -range: why the range looks wrong for frame 1 (more than 99 %
    // of its samples clipped to one end, with its percentiles); empty when it does not.
    const std::string& rangeWarning() const { return rangeWarning_; }

    // The planes the per-cell table measures (-objects): the analysed frame's source values,
    // each -measure-channel, the -measure-source frame; 0 without -objects.
    int32_t measurePlaneCount() const {
        if (!measured_) return 0;
        return 1 + static_cast<int32_t>(measureChannels_.size()) + (measureSource_.empty() ? 0 : 1);
    }
    // Why the measured planes cannot be read (a channel the stack lacks, a second series
    // without frame 1, or whose frame 1 does not hold the window); empty when they can. Call
    // after resolve().
    std::string measureRefusal(const RunConfig& config) const;
    // As load, and (with planes reserved for measurePlaneCount()) frame j's measured planes,
    // each marked loaded or not; a frame whose gray failed marks every plane not loaded.
    // nanSamples as for load.
    Status load(FrameReader& reader, int32_t j, uint8_t* gray, MeasurePlanes& planes,
                size_t* nanSamples = nullptr) const;
    // The pixel size and frame interval of the run: -pixel-size and -frame-interval when
    // given, else what frame 1's file states (see image/file_units.h), each with its origin.
    Calibration calibration(const RunConfig& config) const;
    // The file of frame j of -measure-source.
    std::string measurePath(int32_t j) const;

    // Records that frame j could not be read and says why on errors.
    void noteFailure(int32_t j, const Status& load, std::ostream& errors);
    // After the run: "N of M frames could not be read: 5, 11-20" when any failed.
    void summarise(int32_t framesRead, std::ostream& errors) const;
    // The frames that could not be read so far, in order.
    const std::vector<int32_t>& failedFrames() const { return failed_; }

private:
    // The stack's share of resolve: its layout against -channel, -first and -count.
    std::string resolveStack(const RunConfig& config);
    // The file series' share: frame 1 and frame -count must exist; without -count the frames
    // are every consecutive file from -first on.
    std::string resolveFiles(const RunConfig& config);
    // Whether frame j's file exists (whatever it holds).
    bool exists(int32_t j) const;
    // The last frame of the consecutive run of existing files that starts at frame 1.
    int32_t lastConsecutive(int32_t bound) const;
    // Frame 1's image size from its header; false when it cannot be read.
    bool firstImageDimensions(uint32_t& width, uint32_t& height) const;
    // Why frame 1 is missing, with the files nearest to its name.
    std::string missingFirstFrame() const;
    // The warning of a range that clips more than 99 % of the samples reader last loaded.
    std::string clippingWarning(const FrameReader& reader, const RunConfig& config) const;

    std::string source_;
    bool stack_ = false;
    int32_t first_ = 1;
    int32_t channels_ = 1;
    int32_t channel_ = 1;
    int32_t originX_ = 0;
    int32_t originY_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    GrayMapping mapping_;
    SeriesPlan plan_;
    bool measured_ = false;
    std::vector<int32_t> measureChannels_;  // -measure-channel, in the order given
    std::string measureSource_;
    bool measureStack_ = false;  // -measure-source is one TIFF stack rather than numbered files
    std::vector<uint8_t> firstGray_;  // frame 1 as checkFirstFrame loaded it; empty when it did not
    size_t firstNans_ = 0;            // its NaN samples
    std::string rangeWarning_;
    std::vector<int32_t> failed_;
};

}  // namespace vanto
