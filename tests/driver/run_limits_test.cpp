// The memory a run counts on, against a bound: per thread, and the thread count that fits.
#include <gtest/gtest.h>

#include <string>

#include "driver/run_limits.h"
#include "image/frame_decode.h"
#include "model/frame_in_flight.h"
#include "model/segment_scratch.h"

namespace vanto {
namespace {

RunConfig window(int32_t w, int32_t h, int32_t threads = 0) {
    RunConfig config;
    config.frameWidth = w;
    config.frameHeight = h;
    config.threads = threads;
    return config;
}

TEST(RunMemory, EachThreadAddsItsFrameScratchAndDecodeBuffers) {
    const RunConfig config = window(1000, 800);
    const int64_t pixels = 800000;
    // From two threads on, a thread adds a frame in flight, a scratch, its window of source
    // values and a decode block up to the cap.
    const int64_t perThread = FrameInFlight::bytesFor(pixels) + SegmentScratch::bytesFor(pixels) + 4 * pixels +
                              static_cast<int64_t>(kMaxDecodedBytes);
    for (const int32_t threads : {3, 8, 100})
        EXPECT_EQ(runMemoryBytes(config, threads) - runMemoryBytes(config, threads - 1), perThread) << threads;
    // The second thread adds two frames (the one ready and the main thread's) and its scratch;
    // the main thread keeps its own, as it segments while it would wait.
    EXPECT_EQ(runMemoryBytes(config, 2) - runMemoryBytes(config, 1),
              2 * FrameInFlight::bytesFor(pixels) + SegmentScratch::bytesFor(pixels) + 4 * pixels +
                  static_cast<int64_t>(kMaxDecodedBytes));
    // Bitmaps add their file image; the cell options their scratch blocks.
    RunConfig drawn = config;
    drawn.drawVoronoi = true;
    EXPECT_EQ(runMemoryBytes(drawn, 1) - runMemoryBytes(config, 1), 54 + 3000 * 800);
    // Both bitmaps are drawn at the same time, each on a canvas of its own.
    RunConfig both = drawn;
    both.drawCalculation = true;
    EXPECT_EQ(runMemoryBytes(both, 1) - runMemoryBytes(drawn, 1), 4 * pixels + 54 + 3000 * 800);
    RunConfig smoothed = config;
    smoothed.smoothSigma = 1.5;
    EXPECT_EQ(runMemoryBytes(smoothed, 4) - runMemoryBytes(config, 4), 4 * SegmentScratch::extensionBytesFor(pixels));
    // -split adds its own planes to every thread's scratch, as the pipeline reserves them.
    RunConfig split = config;
    split.splitDepth = 1;
    EXPECT_EQ(runMemoryBytes(split, 4) - runMemoryBytes(config, 4),
              4 * (SegmentScratch::extensionBytesFor(pixels) + SegmentScratch::splittingBytesFor(1000, 800)));
    // The largest window on the most threads neither overflows nor fits anywhere.
    EXPECT_EQ(runMemoryBytes(window(46340, 46340), 256) > (int64_t{1} << 40), true);
    EXPECT_EQ(runMemoryBytes(window(100000, 100000), 1), INT64_MAX);
}

TEST(ThreadPlan, TheMostThreadsThatFitAreFoundAtTheBoundExactly) {
    for (const int32_t fit : {1, 2, 7, 31}) {
        const RunConfig config = window(2048, 2048);
        const MemoryBound bound{runMemoryBytes(config, fit), "the test's limit"};
        // The default lowers to what fits, with a warning naming both counts.
        const ThreadPlan lowered = planThreads(config, bound, 64);
        EXPECT_EQ(lowered.threads, fit);
        EXPECT_TRUE(lowered.refusal.empty());
        EXPECT_NE(lowered.warning.find("one thread per core (64) needs "), std::string::npos) << lowered.warning;
        EXPECT_NE(lowered.warning.find("of the test's limit; the run uses " + std::to_string(fit) +
                                       (fit == 1 ? " thread" : " threads")),
                  std::string::npos)
            << lowered.warning;
        // An explicit count is refused with the most that fit; one that fits passes silently.
        const ThreadPlan refused = planThreads(window(2048, 2048, 64), bound, 64);
        EXPECT_EQ(refused.refusal.substr(0, 18), "-threads 64 needs ");
        EXPECT_NE(refused.refusal.find(": give -threads " + std::to_string(fit) + " or fewer"), std::string::npos)
            << refused.refusal;
        const ThreadPlan kept = planThreads(window(2048, 2048, fit), bound, fit);
        EXPECT_EQ(kept.threads, fit);
        EXPECT_TRUE(kept.refusal.empty() && kept.warning.empty());
    }
}

TEST(ThreadPlan, AWindowThatFitsNoThreadIsTheWindowsRefusal) {
    const RunConfig config = window(4096, 4096);
    const MemoryBound bound{runMemoryBytes(config, 1) - 1, "the test's limit"};
    const std::string why = windowRefusal(config, bound);
    EXPECT_NE(why.find("the window 4096 x 4096 needs "), std::string::npos) << why;
    EXPECT_NE(why.find("give a smaller -w or -h"), std::string::npos) << why;
    EXPECT_TRUE(windowRefusal(config, {runMemoryBytes(config, 1), "the test's limit"}).empty());
}

}  // namespace
}  // namespace vanto
