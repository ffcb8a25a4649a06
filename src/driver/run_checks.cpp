#include "driver/run_checks.h"

#include <cstdint>
#include <cstdio>

#include "driver/command_line.h"
#include "driver/frame_pipeline.h"
#include "driver/option_table.h"
#include "export/ctc_export.h"

namespace vanto {

namespace {

// Whether the path would fit the path buffer.
template <typename... Args>
bool fits(const char* format, Args... args) {
    char buffer[kPathBufferBytes];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return n >= 0 && static_cast<size_t>(n) < sizeof buffer;
}

// The output folder's refusals; true when its paths can be formed.
bool checkOutput(const RunConfig& config, std::vector<std::string>& refusals) {
    const char* dir = config.outputDir.c_str();
    if (config.outputDir.empty()) {
        refusals.push_back("-output is empty: give the folder for the log and the reports");
        return false;
    }
    if (!fits("%s/_log.txt", dir) || !fits("%s/_average.csv", dir) || !fits("%s/_cell.csv", dir)) {
        refusals.push_back("output paths in \"" + config.outputDir + "\" do not fit in 511 characters");
        return false;
    }
    return true;
}

// The refusals of a run that analyses frames: its frame size, its frame pattern and paths,
// and (when the output folder's paths can be formed) its bitmap paths.
void checkFrames(const RunConfig& config, const FrameSeries& series, bool outputUsable,
                 std::vector<std::string>& refusals) {
    const SeriesPlan& plan = series.plan();
    if (config.frameWidth < 1 || config.frameHeight < 1)
        refusals.push_back("the frame size " + std::to_string(config.frameWidth) + " x " +
                           std::to_string(config.frameHeight) + " is empty: give -w and -h of at least 1" +
                           series.firstImageSize());
    const char* source = config.sourcePattern.c_str();
    const int64_t lastNumber = int64_t{config.firstFrame} + plan.frameCount - 1;
    if (!plan.stack && !isFramePattern(config.sourcePattern)) {
        refusals.push_back("-source \"" + config.sourcePattern +
                           "\" must hold exactly one integer conversion such as %04d (or ^04d)");
    } else if (!plan.stack && lastNumber <= INT32_MAX &&
               // A huge field width is caught before formatting, which would take seconds.
               (shortestFormattedLength(config.sourcePattern, kPathBufferBytes) >= int64_t{kPathBufferBytes} ||
                !fits(source, config.firstFrame) || !fits(source, static_cast<int32_t>(lastNumber)))) {
        refusals.push_back("frame paths of \"" + config.sourcePattern + "\" do not fit in 511 characters");
    }
    if (!outputUsable) return;
    const char* dir = config.outputDir.c_str();
    if (config.drawCalculation && !fits("%s/10_Calculation_%04d.bmp", dir, plan.frameCount))
        refusals.push_back("calculation bitmap paths do not fit in 511 characters");
    if (config.drawVoronoi && !fits("%s/12_Voronoi_%04d.bmp", dir, plan.frameCount))
        refusals.push_back("Voronoi bitmap paths do not fit in 511 characters");
}

}  // namespace

RunCheck checkRun(RunConfig& config, const MemoryBound& bound, FrameSeries& series, std::vector<std::string> refusals,
                  const std::vector<std::string>& replaced) {
    RunCheck check;
    for (std::string& why : optionRefusals(config)) refusals.push_back(std::move(why));
    const bool outputUsable = checkOutput(config, refusals);
    check.plan = series.resolve(config);
    if (check.plan.refusal.empty() && check.plan.frameCount >= 1) series.settleWindow(config);
    const std::string windowWhy = windowRefusal(config, bound);
    if (!windowWhy.empty()) refusals.push_back(windowWhy);
    if (!check.plan.refusal.empty()) {
        refusals.push_back(check.plan.refusal);
    } else if (check.plan.frameCount >= 1) {
        checkFrames(config, series, outputUsable, refusals);
    }
    if (windowWhy.empty()) {
        ThreadPlan threads = planThreads(config, bound, effectiveThreads(config, check.plan.frameCount));
        if (!threads.refusal.empty()) refusals.push_back(threads.refusal);
        check.threads = threads.threads;
        check.threadWarning = std::move(threads.warning);
    }
    check.refusals = std::move(refusals);
    if (!check.refusals.empty()) return check;
    // Only a run that nothing else refuses looks at the -ctc folder's contents or reads frame 1;
    // nothing is created here.
    if (std::string why; !config.ctcDir.empty() && !CtcExport::checkFolder(config.ctcDir, replaced, why)) {
        check.refusals.push_back(why);
    } else if (check.plan.frameCount >= 1) {
        if (std::string firstFrame = series.checkFirstFrame(config); !firstFrame.empty())
            check.refusals.push_back(firstFrame);
    }
    if (std::string why = series.measureRefusal(config); check.refusals.empty() && !why.empty())
        check.refusals.push_back(why);
    return check;
}

}  // namespace vanto
