// One output folder holds one run: the record lists every file its run wrote, a new run first
// removes the files the earlier record lists and nothing else, and a refused run creates
// nothing but a record saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "child_run.h"
#include "run_fixture.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProgram;
using testing::seriesWords;
using testing::TempDir;
using testing::with;

// Every file below dir, as names relative to it.
std::set<std::string> filesBelow(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        if (!entry.is_directory()) names.insert(fs::relative(entry.path(), dir.path()).string());
    return names;
}

// The names the record lists: its files and its frame-by-frame ranges spelt out.
std::set<std::string> listedFiles(const TempDir& out) {
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    std::set<std::string> names(record["files"].begin(), record["files"].end());
    for (const auto& range : record["frame_files"]) {
        for (int n = range["first"]; n <= range["last"].get<int>(); ++n) {
            std::string number = std::to_string(n);
            number.insert(0, std::max(0, range["digits"].get<int>() - static_cast<int>(number.size())), '0');
            names.insert(range["prefix"].get<std::string>() + number + range["suffix"].get<std::string>());
        }
    }
    return names;
}

TEST(OneRunPerFolder, TheRecordListsEveryFileAndARerunLeavesNoStaleOne) {
    TempDir frames, out;
    const auto words = with(seriesWords(frames, 3), {"-output", out.path()});
    const auto first = runProgram(with(words, {"-image", "-voronoi", "-tracks", "-ctc", out.file("ctc")}));
    ASSERT_EQ(first.status, 0) << first.errors;
    EXPECT_EQ(listedFiles(out), filesBelow(out)) << "the record lists exactly the files of the folder";
    EXPECT_EQ(listedFiles(out).count("ctc/mask002.tif"), 1u);
    std::ofstream(out.file("notes.txt")) << "the user's own file";

    // The same run again: the -ctc folder holds only the earlier run's files, so it is taken.
    const auto again = runProgram(with(words, {"-image", "-voronoi", "-tracks", "-ctc", out.file("ctc")}));
    ASSERT_EQ(again.status, 0) << again.errors;
    EXPECT_EQ(again.errors, "");

    // A run without the bitmaps and track outputs: none of them stays behind.
    const auto plain = runProgram(words);
    ASSERT_EQ(plain.status, 0) << plain.errors;
    EXPECT_EQ(filesBelow(out), (std::set<std::string>{"_run.json", "_log.txt", "_average.csv", "_cell.csv",
                                                      "notes.txt"}));
    EXPECT_EQ(listedFiles(out), (std::set<std::string>{"_run.json", "_log.txt", "_average.csv", "_cell.csv"}));
    EXPECT_EQ(readFile(out.file("notes.txt")), "the user's own file");
}

// A record is data from the disk: names that leave the folder, and links, are never followed.
TEST(OneRunPerFolder, AnEarlierRecordNeverReachesOutsideTheFolder) {
    TempDir frames, out, elsewhere;
    std::ofstream(elsewhere.file("victim.txt")) << "keep";
    fs::create_directory(elsewhere.file("inner"));
    std::ofstream(elsewhere.file("inner/deep.txt")) << "keep";
    fs::create_symlink(elsewhere.file("victim.txt"), out.file("link.txt"));
    fs::create_symlink(elsewhere.file("inner"), out.file("folder"));
    fs::create_directory(out.file("sub"));
    std::ofstream(out.file("sub/stale.csv")) << "stale";
    const std::string up = fs::relative(elsewhere.file("victim.txt"), out.path()).string();
    nlohmann::json record = {{"files", {up, elsewhere.file("victim.txt"), "sub/../link.txt", "link.txt",
                                        "folder/deep.txt", "sub/stale.csv", "./notes", ""}},
                             {"frame_files", {{{"prefix", "../x"}, {"digits", 2}, {"suffix", ""}, {"first", 0},
                                               {"last", 1}}}}};
    std::ofstream(out.file("_run.json")) << record.dump();
    const auto run = runProgram(with(seriesWords(frames, 2), {"-output", out.path()}));
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "vanto: warning: the earlier run record " + out.path() + "/_run.json names 7 files outside " +
                              out.path() + "; they are left alone\n");
    EXPECT_EQ(readFile(elsewhere.file("victim.txt")), "keep");
    EXPECT_EQ(readFile(elsewhere.file("inner/deep.txt")), "keep");
    EXPECT_TRUE(fs::is_symlink(out.file("link.txt"))) << "a link is not a file of the run";
    EXPECT_FALSE(fs::exists(out.file("sub/stale.csv"))) << "a plain file inside, listed, goes";
}

// A refused run creates nothing (no -ctc folder) and touches no earlier file; it leaves a
// record saying why that keeps the earlier files listed, so the next run still removes them.
TEST(OneRunPerFolder, ARefusedRunLeavesOnlyItsRecord) {
    TempDir frames, out;
    const auto words = with(seriesWords(frames, 3), {"-output", out.path()});
    ASSERT_EQ(runProgram(with(words, {"-image"})).status, 0);
    const auto before = filesBelow(out);
    const auto refused = runProgram(with(words, {"-ctc", out.file("new_ctc"), "-grow", "99", "-count", "9"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(fs::exists(out.file("new_ctc")));
    EXPECT_EQ(filesBelow(out), before);
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
    EXPECT_EQ(record["ending"], "refused");
    EXPECT_EQ(record["exit_status"], 1);
    ASSERT_EQ(record["errors"].size(), 2u);
    EXPECT_EQ(record["errors"][0], "-grow must be -20 to 20 pixels");
    EXPECT_EQ(record["errors"][1].get<std::string>().rfind("-count 9: frame 9", 0), 0u);
    EXPECT_EQ(record["files"], nlohmann::json::array({"_run.json"}));
    EXPECT_EQ(record["earlier_files"].size(), before.size() - 1);  // all but the record

    // The next run that goes ahead clears the earlier files.
    ASSERT_EQ(runProgram(words).status, 0);
    EXPECT_FALSE(fs::exists(out.file("10_Calculation_0001.bmp")));
}

}  // namespace
}  // namespace vanto
