// Per-frame outputs on their own: what a frame wrote stays only once committed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/frame_output.h"
#include "io/output_file.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::TempDir;

TEST(FrameOutputs, ATextFileRolledBackEndsWithItsLastCommittedFrame) {
    TempDir dir;
    TextOutputFile out(WholeUnit::marked);
    ASSERT_TRUE(out.open(dir.file("t.csv")));
    out << "header\n";
    out.commitFrame();
    out << "frame 1\n";
    out.flush();
    out.commitFrame();
    out << "frame 2, part of it reached the file\n";
    out.flush();
    out << "and part was still buffered";
    out.rollBackFrame();
    out << "frame 2 again\n";
    out.commitFrame();
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFile(dir.file("t.csv")), "header\nframe 1\nframe 2 again\n");
}

TEST(FrameOutputs, FilesOfAFrameRolledBackAreRemovedAndCommittedOnesStay) {
    TempDir dir;
    FrameFiles files;
    const auto make = [&](const std::string& name) {
        files.begin(dir.file(name).c_str());
        std::ofstream(dir.file(name)) << name;
    };
    make("a_1.bmp");
    make("b_1.bmp");
    files.commitFrame();
    make("a_2.bmp");
    files.begin(dir.file("b_2.bmp").c_str());  // begun, never created
    // A folder of that name was the user's: it is not a file the frame made.
    std::filesystem::create_directory(dir.file("c_2.bmp"));
    files.begin(dir.file("c_2.bmp").c_str());
    files.rollBackFrame();
    EXPECT_TRUE(std::filesystem::exists(dir.file("a_1.bmp")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("b_1.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a_2.bmp")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("c_2.bmp")));
    // Nothing is pending after a roll back: another one removes nothing.
    files.rollBackFrame();
    EXPECT_TRUE(std::filesystem::exists(dir.file("a_1.bmp")));
}

// Records the calls it receives, in order.
struct Recorder : FrameOutput {
    Recorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    void commitFrame() override { log_.push_back("commit " + name_); }
    void rollBackFrame() override { log_.push_back("roll back " + name_); }
    std::vector<std::string>& log_;
    std::string name_;
};

TEST(FrameOutputs, ATransactionReachesEveryOutputThatJoined) {
    std::vector<std::string> log;
    Recorder a(log, "a"), b(log, "b");
    FrameTransaction transaction;
    transaction.join(a);
    transaction.join(b);
    transaction.commit();
    transaction.rollBack();
    EXPECT_EQ(log, (std::vector<std::string>{"commit a", "commit b", "roll back a", "roll back b"}));
}

}  // namespace
}  // namespace vanto
