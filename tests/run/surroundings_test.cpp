// Whole runs in hostile surroundings: a memory limit against the threads asked for, a stack
// whose chain of pages breaks off, and links planted where the outputs go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <csignal>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "child_run.h"
#include "driver/run_limits.h"
#include "frame_files.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::ChildSetup;
using testing::readFile;
using testing::runChild;
using testing::splitLines;
using testing::TempDir;
using testing::with;

// --- Memory -------------------------------------------------------------------------------

constexpr int kSide = 2048;

// Frames of kSide x kSide with a few cells: three drawn, and links to them up to frame 16 so
// that sixteen threads have a frame each. Returns the words of a run over `count` of them.
std::vector<std::string> largeSeries(const TempDir& dir, int count) {
    if (!fs::exists(dir.file("big_16.png"))) {
        SeriesParams params;
        params.width = kSide;
        params.height = kSide;
        params.cellCount = 6;
        std::vector<uint8_t> frame(static_cast<size_t>(kSide) * kSide);
        for (int j = 1; j <= 3; ++j) {
            renderSyntheticFrame(params, j, frame.data());
            writeGrayPng(dir.file("big_" + std::to_string(j) + ".png").c_str(), kSide, kSide, frame.data());
        }
        for (int j = 4; j <= 16; ++j)
            fs::create_hard_link(dir.file("big_" + std::to_string((j - 1) % 3 + 1) + ".png"),
                                 dir.file("big_" + std::to_string(j) + ".png"));
    }
    return {"-source", dir.path() + "/big_%d.png", "-w", std::to_string(kSide), "-h", std::to_string(kSide),
            "-count", std::to_string(count), "-threshold", "20", "-size", "5"};
}

int64_t countedBytes(const std::vector<std::string>& words, int32_t threads) {
    return runMemoryBytes(testing::parseWords(words).config, threads);
}

// The program itself, its libraries and the OpenCL runtime take address space too; the check
// leaves that to the margin between what it counts and the limit.
constexpr rlim_t kProgramSpace = rlim_t{768} << 20;

class MemoryCheck : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::kAddressSpaceLimitWorks) GTEST_SKIP() << "the address sanitizer cannot run under ulimit -v";
        words_ = largeSeries(frames_, 3);
    }
    TempDir frames_;
    std::vector<std::string> words_;
};

TEST_F(MemoryCheck, EveryThreadCountsAndAnExplicitCountThatDoesNotFitNamesTheMostThatDo) {
    // The threads' frames, scratches and decode buffers are counted: more threads, more memory.
    const int64_t one = countedBytes(words_, 1);
    EXPECT_GT(countedBytes(words_, 2) - one, int64_t{256} << 20) << "the decoding cap is a thread's";
    EXPECT_GT(countedBytes(words_, 16), one + 15 * (int64_t{256} << 20));

    ChildSetup setup;
    setup.addressLimit = static_cast<rlim_t>(one) + kProgramSpace;
    TempDir out;
    const auto refused = runChild(with(largeSeries(frames_, 16), {"-threads", "16", "-output", out.path()}), setup);
    EXPECT_EQ(refused.status, 1) << refused.errors;
    ASSERT_EQ(splitLines(refused.errors).size(), 1u) << refused.errors;
    const std::string& line = refused.errors;
    EXPECT_NE(line.find("vanto: -threads 16 needs "), std::string::npos) << line;
    EXPECT_NE(line.find("of the address-space limit (ulimit -v)"), std::string::npos) << line;
    const size_t at = line.find("give -threads ");
    ASSERT_NE(at, std::string::npos) << line;
    const int most = std::stoi(line.substr(at + 14));
    EXPECT_GE(most, 1);
    EXPECT_LT(most, 16);
    testing::expectOnlyRefusalRecord(out);

    // The count named runs under the same limit, with a frame for each thread; so does one thread.
    for (const int threads : {1, most}) {
        TempDir ran;
        const int frames = std::max(threads, 2);
        const auto run = runChild(
            with(largeSeries(frames_, frames), {"-threads", std::to_string(threads), "-output", ran.path()}), setup);
        EXPECT_EQ(run.status, 0) << "-threads " << threads << ": " << run.errors;
        EXPECT_EQ(testing::expectWholeFrames(ran), frames);
    }
}

TEST_F(MemoryCheck, TheDefaultThreadCountIsLoweredToWhatFitsWithAWarningAndARecord) {
    const int32_t cores = static_cast<int32_t>(std::thread::hardware_concurrency());
    if (cores < 2) GTEST_SKIP() << "one core: the default is one thread already";
    // One thread fits; a second does not, by a byte.
    ChildSetup setup;
    setup.addressLimit = static_cast<rlim_t>(countedBytes(words_, 2)) - 1;
    TempDir out;
    const auto run = runChild(with(words_, {"-output", out.path()}), setup);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("vanto: warning: one thread per core (" + std::to_string(std::min(cores, 3)) + ") needs "),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("; the run uses 1 thread\n"), std::string::npos) << run.errors;
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    EXPECT_EQ(record["threads"], 1);
    EXPECT_NE(record.value("threads_lowered", std::string()).find("the run uses 1 thread"), std::string::npos);

    // An explicit count that fits is kept, without a word.
    TempDir ran;
    setup.addressLimit = static_cast<rlim_t>(countedBytes(words_, 2)) + kProgramSpace;
    const auto two = runChild(with(words_, {"-threads", "2", "-output", ran.path()}), setup);
    EXPECT_EQ(two.status, 0) << two.errors;
    EXPECT_EQ(two.errors.find("thread"), std::string::npos) << two.errors;
    EXPECT_EQ(nlohmann::json::parse(readFile(ran.file("_run.json")))["threads"], 2);
}

// --- Stacks whose chain of pages breaks off ------------------------------------------------

// A stack of `pages` distinct 16 x 12 pages; the offsets of each page's link to the next.
std::vector<uint32_t> writeStack(const std::string& path, int pages) {
    std::vector<testing::TiffPage> all;
    for (int p = 0; p < pages; ++p) {
        testing::TiffPage page = testing::grayPage(16, 12);
        page.data.assign(16 * 12, static_cast<uint8_t>(40 + 30 * p));
        all.push_back(page);
    }
    EXPECT_TRUE(testing::writeTiffPages(path, all));
    // Each directory: a 2-byte entry count, 12 bytes an entry, then the 4-byte link.
    std::vector<uint32_t> links;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    do {
        const uint64_t at = TIFFCurrentDirOffset(tif);
        std::ifstream file(path, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(at));
        uint16_t entries = 0;
        file.read(reinterpret_cast<char*>(&entries), 2);
        links.push_back(static_cast<uint32_t>(at + 2 + 12 * uint64_t{entries}));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return links;
}

void patchLink(const std::string& path, uint32_t linkAt, uint32_t target) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(linkAt);
    file.write(reinterpret_cast<const char*>(&target), 4);  // little-endian, as written on this host
}

TEST(StackChain, AChainThatEndsEarlyOrLoopsIsReportedWithThePagesFound) {
    TempDir dir;
    const std::string early = dir.file("early.tif");
    const std::string loop = dir.file("loop.tif");
    const auto earlyLinks = writeStack(early, 4);
    const auto loopLinks = writeStack(loop, 4);
    ASSERT_EQ(earlyLinks.size(), 4u);
    // Page 3 links past the end of the file; page 3 of the other links back to page 2.
    patchLink(early, earlyLinks[2], static_cast<uint32_t>(fs::file_size(early) + 4096));
    TIFF* tif = TIFFOpen(loop.c_str(), "r");
    ASSERT_TRUE(TIFFReadDirectory(tif));
    const auto secondPage = static_cast<uint32_t>(TIFFCurrentDirOffset(tif));
    TIFFClose(tif);
    patchLink(loop, loopLinks[2], secondPage);

    const std::vector<std::string> options = {"-w", "16", "-h", "12", "-threshold", "20", "-size", "5"};
    for (const std::string& stack : {early, loop}) {
        TempDir out;
        const auto whole = runChild(with(options, {"-source", stack, "-output", out.path()}));
        EXPECT_EQ(whole.status, 1) << stack;
        EXPECT_NE(whole.errors.find("vanto: the stack " + stack + " breaks off after page 3 ("), std::string::npos)
            << whole.errors;
        EXPECT_NE(whole.errors.find("give -count 3 to analyse the 3 pages before the break"), std::string::npos)
            << whole.errors;
        testing::expectOnlyRefusalRecord(out);
        // A count within the pages found is analysed; one beyond them is refused the same way.
        const auto within = runChild(with(options, {"-source", stack, "-count", "3", "-output", out.path()}));
        EXPECT_EQ(within.status, 0) << within.errors;
        EXPECT_EQ(testing::reportFrames(out.file("_average.csv"), 2), (std::vector<int>{1, 2, 3}));
        TempDir beyond;
        const auto past = runChild(with(options, {"-source", stack, "-count", "4", "-output", beyond.path()}));
        EXPECT_EQ(past.status, 1);
        EXPECT_NE(past.errors.find("breaks off after page 3"), std::string::npos) << past.errors;
    }
}

// --- Links planted where the outputs go -----------------------------------------------------

// A file of someone else's that a planted link points at; it must come through unchanged.
struct Victim {
    explicit Victim(const TempDir& dir) : path(dir.file("victim.txt")) { std::ofstream(path) << kText; }
    bool untouched() const { return readFile(path) == kText; }
    static constexpr const char* kText = "another user's file\n";
    std::string path;
};

TEST(PlantedLinks, AReportOrRecordNameThatIsALinkFailsClearlyAndIsNeverWrittenThrough) {
    TempDir frames;
    const auto series = testing::seriesWords(frames, 3);
    for (const char* name : {"_tracks.csv", "_run.json.tmp", "_log.txt", "_cell.csv"}) {
        TempDir out, elsewhere;
        const Victim victim(elsewhere);
        fs::create_symlink(victim.path, out.file(name));
        const auto run = runChild(with(series, {"-tracks", "-output", out.path()}));
        EXPECT_EQ(run.status, 1) << name << ": " << run.errors;
        EXPECT_NE(run.errors.find("\"" + out.file(name) + "\": a symbolic link stands at that name"),
                  std::string::npos)
            << name << ": " << run.errors;
        EXPECT_TRUE(victim.untouched()) << name;
        EXPECT_TRUE(fs::is_symlink(out.file(name))) << name << ": the link is left as it was";
    }
}

// The run is stopped after a few frames, a file is planted a few masks ahead of the last one
// written, and the run goes on; returns the planted mask's path.
std::string plantAhead(const std::string& ctc, pid_t pid, const std::function<void(const std::string&)>& plant) {
    kill(pid, SIGSTOP);
    int next = 0;
    char name[32];
    for (;; ++next) {
        std::snprintf(name, sizeof name, "/mask%03d.tif", next);
        if (!fs::exists(ctc + name)) break;
    }
    std::snprintf(name, sizeof name, "/mask%03d.tif", next + 3);
    plant(ctc + name);
    kill(pid, SIGCONT);
    return ctc + name;
}

TEST(PlantedLinks, AMaskPlantedAfterTheCtcFolderWasCheckedStopsTheRunUntouched) {
    TempDir frames, elsewhere;
    const Victim victim(elsewhere);
    const auto series = testing::seriesWords(frames, 60);
    for (const bool link : {true, false}) {
        TempDir out;
        const std::string ctc = out.file("ctc");
        std::string planted;
        ChildSetup setup;
        setup.actionAfterFrames = 2;
        setup.action = [&](pid_t pid) {
            planted = plantAhead(ctc, pid, [&](const std::string& path) {
                if (link) {
                    fs::create_symlink(victim.path, path);
                } else {
                    std::ofstream(path) << "someone else's mask";
                }
            });
        };
        const auto run = runChild(with(series, {"-ctc", ctc, "-output", out.path()}), setup);
        EXPECT_EQ(run.status, 1) << run.errors;
        const std::string why = link ? "a symbolic link stands at that name" : "the file exists already";
        EXPECT_NE(run.errors.find("\"" + planted + "\": " + why), std::string::npos) << run.errors;
        EXPECT_TRUE(victim.untouched());
        if (link) {
            EXPECT_TRUE(fs::is_symlink(planted));
        } else {
            EXPECT_EQ(readFile(planted), "someone else's mask");
        }
        // The masks before it stay, and the run's outputs end with the frame before it.
        const int frames = testing::expectWholeFrames(out);
        EXPECT_GE(frames, 3);
        char last[32];
        std::snprintf(last, sizeof last, "/mask%03d.tif", frames - 1);
        EXPECT_TRUE(fs::exists(ctc + last));
    }
}

}  // namespace
}  // namespace vanto
