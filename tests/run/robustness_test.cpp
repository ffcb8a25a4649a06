#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;
using testing::ChildOutput;
using testing::ChildSetup;
using testing::expectWholeFrames;
using testing::reportFrames;
using testing::runChild;
using testing::seriesWords;
using testing::with;

TEST(WriteFailures, AFullFileEndsTheRunWithItsNameAndCauseAndWholeFramesOnly) {
    TempDir dir;
    // Past 6,000 bytes a write fails part-way, as on a full disk; the cell report, the largest
    // file, gets there first. The limit comes once the kernels are built, which writes files.
    ChildSetup limited;
    limited.actionAfterFrames = 2;
    limited.action = [](pid_t pid) {
        const rlimit size{6000, 6000};
        prlimit(pid, RLIMIT_FSIZE, &size, nullptr);
    };
    const auto out = runChild(with(seriesWords(dir, 100000), {"-output", dir.path()}), limited);
    EXPECT_EQ(out.status, 1);
    // Frames past 3 are missing and said so; the write failure is said once.
    const std::string line = "vanto: cannot write \"" + dir.file("_cell.csv") + "\": File too large\n";
    EXPECT_NE(out.errors.find(line), std::string::npos) << out.errors;
    EXPECT_EQ(out.errors.find("cannot write"), out.errors.rfind("cannot write")) << out.errors;
    const auto log = splitLines(readFile(dir.file("_log.txt")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "--- " + line.substr(7, line.size() - 8) + " ---");
    const int frames = expectWholeFrames(dir);
    EXPECT_GE(frames, 2);
    EXPECT_EQ(out.console.find("Analysis Finished", out.console.rfind("f_" + std::to_string(frames + 1) + ".png")),
              std::string::npos)
        << "the failed frame is not reported as finished";
}

TEST(WriteFailures, ADeviceWithoutSpaceOrABitmapPathThatIsAFolderStopsTheRun) {
    TempDir dir;
    // The run log on a full device: nothing can be recorded there, standard error says it.
    const auto full = runChild(with(seriesWords(dir, 2), {"-output", dir.path()}), testing::fullDiskFor("/_log.txt"));
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.errors, "vanto: cannot write \"" + dir.file("_log.txt") + "\": No space left on device\n");
    fs::remove(dir.file("_log.txt"));

    // Frame 2's bitmap cannot be created: the run ends after frame 1, in every output.
    fs::create_directory(dir.file("10_Calculation_0002.bmp"));
    auto out = runProgram(with(seriesWords(dir, 4), {"-output", dir.path(), "-image"}));
    EXPECT_EQ(out.status, 1);
    const std::string line = "cannot write \"" + dir.file("10_Calculation_0002.bmp") + "\": Is a directory";
    EXPECT_EQ(out.errors, "vanto: " + line + "\n");
    EXPECT_EQ(splitLines(readFile(dir.file("_log.txt"))).back(), "--- " + line + " ---");
    EXPECT_EQ(expectWholeFrames(dir), 1);
    EXPECT_TRUE(fs::exists(dir.file("10_Calculation_0001.bmp")));
    EXPECT_FALSE(fs::exists(dir.file("10_Calculation_0003.bmp")));
}

TEST(Interruption, SigtermAfterAFewFramesLeavesWholeFramesAndSaysWhereItStopped) {
    TempDir dir;
    ChildSetup setup;
    setup.actionAfterFrames = 3;
    setup.action = [](pid_t pid) { kill(pid, SIGTERM); };
    const auto out = runChild(with(seriesWords(dir, 100000), {"-output", dir.path(), "-image"}), setup);
    EXPECT_EQ(out.status, 128 + SIGTERM) << out.errors;
    const int frames = expectWholeFrames(dir);
    EXPECT_GE(frames, 3);
    const auto log = splitLines(readFile(dir.file("_log.txt")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "--- Interrupted at frame " + std::to_string(frames + 1) + " by SIGTERM ---");
    EXPECT_EQ(splitLines(out.console).back(), log.back());
    EXPECT_NE(readFile(dir.file("_run.json")).find("\"interrupted\""), std::string::npos);
    // Every frame with rows has its bitmap and no other frame has one.
    char last[32];
    std::snprintf(last, sizeof last, "10_Calculation_%04d.bmp", frames);
    EXPECT_TRUE(fs::exists(dir.file(last)));
    int bitmaps = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) bitmaps += entry.path().extension() == ".bmp";
    EXPECT_EQ(bitmaps, frames);
}

TEST(RuntimeSetUp, AHomeThatCannotHoldTheKernelCacheStillRuns) {
    TempDir dir, tmp;
    std::ofstream(dir.file("plain_file")) << "not a folder";
    ChildSetup setup;
    setup.environment = {"HOME=" + dir.file("plain_file") + "/home", "POCL_CACHE_DIR", "XDG_CACHE_HOME", "VANTO_CACHE_DIR",
                         "TMPDIR=" + tmp.path()};
    const auto out = runChild(with(seriesWords(dir, 2), {"-output", dir.path()}), setup);
    EXPECT_EQ(out.status, 0) << out.errors;
    EXPECT_EQ(splitLines(readFile(dir.file("_average.csv"))).size(), 4u);
    EXPECT_TRUE(fs::is_empty(tmp.path())) << "the private kernel cache is removed after the run";
}

TEST(RuntimeSetUp, NoOpenCLPlatformIsExplainedInPlainWords) {
    TempDir dir, vendors;
    ChildSetup setup;
    setup.environment = {"OCL_ICD_VENDORS=" + vendors.path() + "/", "OPENCL_VENDOR_PATH=" + vendors.path()};
    const auto out = runChild(with(seriesWords(dir, 1), {"-output", dir.path()}), setup);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(splitLines(out.errors).size(), 1u) << out.errors;
    EXPECT_NE(out.errors.find("no OpenCL platform found"), std::string::npos) << out.errors;
    EXPECT_NE(out.errors.find("pocl-opencl-icd"), std::string::npos) << out.errors;
}

TEST(RunRefusals, HostileSizesPatternsAndAnEmptyOutputAreRefusedBeforeAnythingIsWritten) {
    TempDir dir, frames;
    std::ofstream(frames.file("f1.png")) << "frame 1";  // the series exists
    const std::string source = frames.path() + "/f%d.png";
    const std::vector<std::vector<std::string>> cases = {
        {"-w", "2147483647", "-h", "2147483647", "-count", "1", "-source", source, "-output", dir.path()},
        {"-w", "2147483647", "-h", "2147483647", "-count", "0", "-output", dir.path()},
        {"-w", "5", "-h", "5", "-count", "1", "-source", source, "-output", ""},
        {"-w", "5", "-h", "5", "-count", "1", "-source", "f%999999999d.png", "-output", dir.path()},
        {"-w", "5", "-h", "5", "-count", "1", "-source", "f%.999999999d.png", "-output", dir.path()},
    };
    for (const auto& words : cases) {
        // In a child: a refusal that took long would meet its CPU-time limit.
        const auto out = runChild(words);
        std::string said;
        for (const auto& w : words) said += w + " ";
        EXPECT_EQ(out.status, 1) << said;
        EXPECT_EQ(splitLines(out.errors).size(), 1u) << out.errors;
        EXPECT_EQ(out.console, "");
        if (words.back().empty()) {
            EXPECT_TRUE(fs::is_empty(dir.path()));
        } else {
            testing::expectOnlyRefusalRecord(dir);
        }
        fs::remove(dir.file("_run.json"));
    }
    EXPECT_NE(runChild(cases[0]).errors.find("more than 2147483647 pixels"), std::string::npos);
    EXPECT_NE(runChild(cases[2]).errors.find("-output is empty"), std::string::npos);
}

TEST(RunRefusals, AWindowLargerThanTheMemoryLimitIsRefusedBeforeReserving) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot start under an address-space limit";
#endif
    TempDir dir;
    ChildSetup setup;
    setup.addressLimit = rlim_t{1} << 30;
    const auto out = runChild({"-w", "20000", "-h", "20000", "-count", "1", "-source", "f%d.png", "-output", dir.path()},
                              setup);
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.errors.find("working memory, more than the 1024 MiB of the address-space limit"), std::string::npos)
        << out.errors;
    testing::expectOnlyRefusalRecord(dir);
}

}  // namespace
}  // namespace vanto
