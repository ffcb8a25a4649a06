#include "child_usage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vanto {
namespace {

class ChildUsageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("vanto-child-usage-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    ChildUsage run(const std::vector<std::string>& words, char** environment = environ) {
        return runMeasured(words, environment, out(), err());
    }
    std::string out() const { return (dir_ / "out.txt").string(); }
    std::string err() const { return (dir_ / "err.txt").string(); }
    static std::string text(const std::string& path) {
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::filesystem::path dir_;
};

// This process holds more memory than the children below: the kernel hands its peak to each
// child it starts, which must not show as the child's.
constexpr size_t kParentMiB = 256;

TEST_F(ChildUsageTest, PeakIsTheChildsOwnNotTheParents) {
    std::vector<char> held(kParentMiB << 20, 1);
    ASSERT_GE(residentPeakKiB(0), static_cast<long>(kParentMiB << 10));
    // dd fills a 32 MiB buffer and copies it 8 times, long enough to be seen while it runs.
    const ChildUsage dd = run({"/bin/dd", "if=/dev/zero", "of=/dev/null", "bs=32M", "count=8"});
    ASSERT_EQ(dd.status, 0) << text(err());
    EXPECT_GE(dd.peakMiB, 32);
    EXPECT_LT(dd.peakMiB, 128) << "the parent's peak was taken for the child's";
    EXPECT_GT(dd.cpuMs, 0);
    EXPECT_GE(dd.wallMs, dd.cpuMs * 0.5);
    // A child that ends at once may not be seen at all; then its peak is unknown, never ours.
    const ChildUsage quick = run({"/bin/true"});
    EXPECT_EQ(quick.status, 0);
    EXPECT_LT(quick.peakMiB, 64) << "the parent's peak was taken for the child's";
    EXPECT_EQ(held[held.size() / 2], 1);
}

TEST_F(ChildUsageTest, StatusOutputsAndEnvironment) {
    std::string variable = "CHILD_USAGE_WORD=seven";
    char* environment[] = {variable.data(), nullptr};
    const ChildUsage echo = run({"/bin/sh", "-c", "echo \"$CHILD_USAGE_WORD\"; echo to-errors >&2; exit 3"},
                                environment);
    EXPECT_EQ(echo.status, 3);
    EXPECT_EQ(text(out()), "seven\n");
    EXPECT_EQ(text(err()), "to-errors\n");
    EXPECT_EQ(run({"/bin/sh", "-c", "kill -9 $$"}).status, 128 + 9);
    EXPECT_EQ(run({(dir_ / "no-such-program").string()}).status, -1);
    EXPECT_EQ(run({}).status, -1);
}

TEST_F(ChildUsageTest, PeakOfAProcessThatHasEnded) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(residentPeakKiB(child), -1);
    EXPECT_GT(residentPeakKiB(0), 0);
}

}  // namespace
}  // namespace vanto
