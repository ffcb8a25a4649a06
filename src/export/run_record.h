#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/status.h"
#include "model/calibration.h"

namespace vanto {

// How a run ended, as the run record names it.
enum class RunEnding { running, finished, cellLimit, linkLimit, interrupted, failed, refused };

const char* runEndingName(RunEnding ending);

// Files of a run named frame by frame: PREFIX, the number with at least `digits` digits
// (zeros in front), SUFFIX, for the numbers first .. last (none when last < first). The names
// are relative to the output folder (or absolute for a folder outside it).
struct FrameFileRange {
    std::string prefix;
    int32_t digits = 0;
    std::string suffix;
    int32_t first = 0;
    int32_t last = -1;
};

// The name of number n in range.
std::string frameFileName(const FrameFileRange& range, int32_t n);

// What "_run.json" says about one run. The driver fills it as the run goes; each stage that
// knows something sets it through the setters. Written whole at the start, after every frame
// and at the end.
class RunRecord {
public:
    // Copies the command-line words and the options with the values the run uses (an object,
    // one member per option word), and marks the start time.
    void start(const std::string& version, int argc, char** argv, nlohmann::ordered_json options);

    void setMapping(const std::string& mapping) { mapping_ = mapping; }      // how gray values are mapped
    void setInputKind(const std::string& kind) { inputKind_ = kind; }       // frame files, stacks, ...
    void setThreads(int32_t threads) { threads_ = threads; }                 // worker threads in use
    // Why the run uses fewer threads than one per core (memory); listed as "threads_lowered".
    void setThreadsLowered(const std::string& why) { threadsLowered_ = why; }
    void setUnits(const Calibration& units) { units_ = units; }              // the calibration in use
    void setInterrupted() { ending_ = RunEnding::interrupted; }
    void setFramesAnalysed(int32_t frames) { framesAnalysed_ = frames; }
    void addUnreadableFrame(int32_t frame, const std::string& why);
    void addError(const std::string& error) { errors_.push_back(error); }
    // The window analysed (given, or to the image's edge).
    void setWindow(int32_t x, int32_t y, int32_t width, int32_t height) { window_ = {x, y, width, height}; }
    // Frame `frame` held `samples` NaN samples, taken as background.
    void addNanSamples(int32_t frame, int64_t samples) { nanSamples_.emplace_back(frame, samples); }
    // The files the run wrote: whole-run files and frame-by-frame ones, names relative to the
    // output folder. earlier: files an earlier run left in the folder that this (refused) run
    // kept, so that the next run still removes them.
    // Copied into storage kept from the last call, so a record rewritten every frame allocates
    // nothing new for its lists once they have their size.
    void setFiles(const std::vector<std::string>& files) { files_ = files; }
    void setFrameFiles(const std::vector<FrameFileRange>& ranges) { frameFiles_ = ranges; }
    void setEarlierFiles(std::vector<std::string> files) { earlierFiles_ = std::move(files); }
    // The ending and exit status; marks the end time. An interrupted run stays interrupted.
    void finish(RunEnding ending, int exitStatus);

    // The record as JSON text (two-space indentation, ending with a newline).
    std::string json() const;

    // Writes json() to path + ".tmp" and renames it onto path, so that path is always whole.
    // A failure when either step fails (the temporary file is then removed).
    Status write(const std::string& path) const;
    // The size of the text the last write() wrote.
    size_t lastBytes() const { return lastBytes_; }

    RunEnding ending() const { return ending_; }
    int32_t framesAnalysed() const { return framesAnalysed_; }

private:
    std::string version_;
    std::vector<std::string> commandLine_;
    nlohmann::ordered_json options_;
    std::string mapping_ = "none";
    std::string inputKind_ = "frame files";
    int32_t threads_ = 1;
    std::string threadsLowered_;
    Calibration units_;
    std::string startTime_;
    std::string endTime_;
    int32_t framesAnalysed_ = 0;
    std::vector<std::pair<int32_t, std::string>> unreadableFrames_;
    std::vector<std::string> errors_;
    std::vector<int32_t> window_;
    std::vector<std::pair<int32_t, int64_t>> nanSamples_;
    std::vector<std::string> files_;
    std::vector<FrameFileRange> frameFiles_;
    std::vector<std::string> earlierFiles_;
    RunEnding ending_ = RunEnding::running;
    int exitStatus_ = -1;
    mutable size_t lastBytes_ = 0;
};

}  // namespace vanto
