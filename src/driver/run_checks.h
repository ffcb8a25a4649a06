#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "driver/frame_series.h"
#include "driver/run_limits.h"
#include "model/run_config.h"

namespace vanto {

// The size of the run's one path buffer: every path of a run fits in it, or the run is refused.
inline constexpr size_t kPathBufferBytes = 512;

// What the checks before a run found: every refusal, the plan of its series and the threads
// it runs on, with the warning when memory allows fewer than one per core.
struct RunCheck {
    std::vector<std::string> refusals;
    SeriesPlan plan;
    int32_t threads = 1;
    std::string threadWarning;
};

// The one pass of checks before a run starts, after the refusals already found (the errors of
// the command line): the option values, the output folder and its paths, the series (resolved
// whatever else is refused; a window left without -w or -h is then settled into config from
// frame 1's size), the window against bound, the threads against bound, then, when frames are to be analysed, the frame
// size, the frame pattern and the frame and bitmap paths. A check that would only repeat an
// earlier refusal is left out. Only when nothing is refused is the -ctc folder looked at (it
// may hold only the files of replaced, the earlier run's files about to be removed) and frame 1
// loaded as the run will load it. Nothing on the disk is changed.
RunCheck checkRun(RunConfig& config, const MemoryBound& bound, FrameSeries& series, std::vector<std::string> refusals,
                  const std::vector<std::string>& replaced);

}  // namespace vanto
