#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_run.h"
#include "csv_table.h"
#include "export/ctc_export.h"
#include "limit_frames.h"
#include "mask_files.h"
#include "shared_data.h"
#include "run_fixture.h"
#include "synthetic_series.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::readMask;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;

using Csv = testing::CsvTable;

Csv readCsv(const std::string& path) { return testing::readCsvTable(path); }

std::string maskPath(const std::string& dir, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "/mask%03d.tif", index);
    return dir + name;
}

// The CTC's consistency rules between the masks 0 .. frames - 1 and res_track.txt: every
// label of a mask is listed, its frames run without a gap from B to E, and a parent ends
// before its child begins.
void expectCtcConsistent(const std::string& dir, int frames, uint32_t width, uint32_t height) {
    struct Line {
        int b, e, p;
    };
    std::map<int, Line> lineage;
    for (const auto& text : splitLines(readFile(dir + "/res_track.txt"))) {
        std::istringstream in(text);
        int l = 0;
        Line line{};
        ASSERT_TRUE(in >> l >> line.b >> line.e >> line.p) << text;
        EXPECT_TRUE(lineage.emplace(l, line).second) << "label listed twice: " << text;
        EXPECT_LE(line.b, line.e) << text;
    }
    std::map<int, std::vector<int>> seen;
    for (int t = 0; t < frames; ++t) {
        uint32_t w = 0, h = 0;
        const auto mask = readMask(maskPath(dir, t), w, h);
        ASSERT_FALSE(mask.empty()) << maskPath(dir, t);
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, height);
        std::map<int, int> labels;
        for (uint16_t v : mask)
            if (v) labels[v]++;
        for (const auto& [label, count] : labels) seen[label].push_back(t);
    }
    EXPECT_FALSE(std::filesystem::exists(maskPath(dir, frames)));
    for (const auto& [label, ts] : seen) {
        const auto it = lineage.find(label);
        ASSERT_NE(it, lineage.end()) << "label " << label << " not in res_track.txt";
        EXPECT_EQ(ts.front(), it->second.b) << "label " << label;
        EXPECT_EQ(ts.back(), it->second.e) << "label " << label;
        EXPECT_EQ(static_cast<int>(ts.size()), ts.back() - ts.front() + 1) << "label " << label << " has a gap";
    }
    for (const auto& [label, line] : lineage) {
        EXPECT_TRUE(seen.count(label)) << "label " << label << " in no mask";
        if (line.p == 0) continue;
        const auto parent = lineage.find(line.p);
        ASSERT_NE(parent, lineage.end()) << "parent of " << label;
        EXPECT_LT(parent->second.e, line.b) << "parent of " << label;
    }
}

// Tracks and events agree: cells = continuing + new, lost identities are tracks that ended
// the frame before, every fate but the last frame's is split, merged or lost.
void expectTablesAgree(const Csv& tracks, const Csv& events, const char* lastFate) {
    const size_t first = tracks.column("first_frame"), last = tracks.column("last_frame"), fate = tracks.column("fate");
    std::map<int, int> ending, starting;
    int lastFrame = 0;
    for (const auto& row : tracks.rows) {
        ending[std::stoi(row[last])]++;
        starting[std::stoi(row[first])]++;
        lastFrame = std::max(lastFrame, std::stoi(row[last]));
    }
    for (const auto& row : tracks.rows) {
        if (std::stoi(row[last]) == lastFrame) EXPECT_EQ(row[fate], lastFate);
        else EXPECT_TRUE(row[fate] == "split" || row[fate] == "merged" || row[fate] == "lost") << row[fate];
    }
    for (const auto& row : events.rows) {
        const int frame = std::stoi(row[0]);
        EXPECT_EQ(std::stoi(row[events.column("cells")]),
                  std::stoi(row[events.column("continuing")]) + std::stoi(row[events.column("new")]));
        EXPECT_EQ(std::stoi(row[events.column("lost")]), ending[frame - 1]) << "frame " << frame;
        EXPECT_EQ(std::stoi(row[events.column("new")]), starting[frame]) << "frame " << frame;
    }
}

void fillRect(std::vector<uint8_t>& frame, int width, int x0, int y0, int x1, int y1) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) frame[y * width + x] = 40;
}

TEST(TrackExports, AKnownLineageGivesTheExpectedTables) {
    TempDir dir;
    // Dark rectangles on a bright ground; segmentation adds a margin of 4 pixels (less one pixel
    // at each corner), so a w x h rectangle becomes a cell of (w + 8) x (h + 8) - 4 pixels.
    // The gaps of 20 pixels keep the cells apart.
    const int w = 140, h = 90;
    std::vector<uint8_t> frame(w * h, 200);
    // Frame 1: A (40 x 12), then B and C (10 x 10) side by side, D (10 x 10) below.
    fillRect(frame, w, 10, 10, 49, 21);
    fillRect(frame, w, 64, 10, 73, 19);
    fillRect(frame, w, 94, 10, 103, 19);
    fillRect(frame, w, 10, 55, 19, 64);
    ASSERT_TRUE(writeGrayPng(dir.file("f_1.png").c_str(), w, h, frame.data()));
    // Frame 2: A split into its two ends (10 x 12), B and C merged into one (40 x 10), D gone,
    // E (10 x 10) new.
    std::fill(frame.begin(), frame.end(), 200);
    fillRect(frame, w, 10, 10, 19, 21);
    fillRect(frame, w, 40, 10, 49, 21);
    fillRect(frame, w, 64, 10, 103, 19);
    std::vector<uint8_t> last = frame;
    fillRect(frame, w, 110, 60, 119, 69);
    ASSERT_TRUE(writeGrayPng(dir.file("f_2.png").c_str(), w, h, frame.data()));
    // Frame 3: all four go on, E moved by (3, 4).
    fillRect(last, w, 113, 64, 122, 73);
    ASSERT_TRUE(writeGrayPng(dir.file("f_3.png").c_str(), w, h, last.data()));
    const std::string ctc = dir.file("ctc");
    const auto out = runProgram({"-source", dir.path() + "/f_%d.png", "-w", "140", "-h", "90", "-count", "3",
                                 "-threshold", "20", "-size", "5", "-output", dir.path(), "-ctc", ctc, "-tracks"});
    ASSERT_EQ(out.status, 0) << out.errors;
    // Identities in order of the cells' first pixels: A 0, B 1, C 2, D 3; then the halves
    // of A 4 and 5, BC 6, E 7.
    EXPECT_EQ(readFile(ctc + "/res_track.txt"),
              "1 0 0 0\n2 0 0 0\n3 0 0 0\n4 0 0 0\n5 1 2 1\n6 1 2 1\n7 1 2 0\n8 1 2 0\n");
    EXPECT_EQ(readFile(dir.file("_tracks.csv")),
              "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size\n"
              "0,1,1,1,,split,4 5,0.00,956.000,956\n"
              "1,1,1,1,,merged,6,0.00,320.000,320\n"
              "2,1,1,1,,merged,6,0.00,320.000,320\n"
              "3,1,1,1,,lost,,0.00,320.000,320\n"
              "4,2,3,2,0,end of series,,0.00,356.000,356\n"
              "5,2,3,2,0,end of series,,0.00,356.000,356\n"
              "6,2,3,2,1 2,end of series,,0.00,860.000,860\n"
              "7,2,3,2,,end of series,,5.00,320.000,320\n");
    EXPECT_EQ(readFile(dir.file("_events.csv")),
              "frame,cells,small_cells,new,lost,splits,merges,continuing\n"
              "1,4,0,4,0,0,0,0\n"
              "2,4,0,4,4,1,1,0\n"
              "3,4,0,0,0,0,0,4\n");
    expectCtcConsistent(ctc, 3, w, h);

    // Calibration adds the physical columns; the pixel columns stay as they were.
    TempDir second;
    const auto calibrated = runProgram({"-source", dir.path() + "/f_%d.png", "-w", "140", "-h", "90", "-count", "3",
                                        "-threshold", "20", "-size", "5", "-output", second.path(), "-tracks",
                                        "-pixel-size", "0.5", "-frame-interval", "2"});
    ASSERT_EQ(calibrated.status, 0) << calibrated.errors;
    const Csv tracks = readCsv(second.file("_tracks.csv"));
    ASSERT_EQ(tracks.rows.size(), 8u);
    EXPECT_EQ(tracks.rows[0][tracks.column("mean_size_um2")], "239.0000");
    EXPECT_EQ(tracks.rows[0][tracks.column("speed_um_per_min")], "");
    EXPECT_EQ(tracks.rows[7][tracks.column("total_way")], "5.00");
    EXPECT_EQ(tracks.rows[7][tracks.column("total_way_um")], "2.5000");
    EXPECT_EQ(tracks.rows[7][tracks.column("duration_min")], "2.0000");
    EXPECT_EQ(tracks.rows[7][tracks.column("speed_um_per_min")], "1.2500");
    const Csv events = readCsv(second.file("_events.csv"));
    EXPECT_EQ(events.rows[2][events.column("time_min")], "4.0000");
    expectTablesAgree(tracks, events, "end of series");
}

TEST(TrackExports, MasksHoldEveryReportedCellWithItsSizeAndCentre) {
    TempDir dir;
    SeriesParams params;
    params.width = 200;
    params.height = 150;
    params.cellCount = 30;
    params.minRadius = 3;
    const int frames = 8;
    const int small = 400;  // makes some cells small: the report leaves them out, the masks not
    std::vector<uint8_t> pixels(params.width * params.height);
    for (int j = 1; j <= frames; ++j) {
        renderSyntheticFrame(params, j, pixels.data());
        ASSERT_TRUE(writeGrayPng(dir.file("f_" + std::to_string(j) + ".png").c_str(), params.width, params.height,
                                 pixels.data()));
    }
    const std::string ctc = dir.file("ctc");
    const auto out = runProgram({"-source", dir.path() + "/f_%d.png", "-w", "200", "-h", "150", "-count",
                                 std::to_string(frames), "-threshold", std::to_string(suggestedThreshold(params)),
                                 "-size", std::to_string(small), "-output", dir.path(), "-ctc", ctc, "-tracks"});
    ASSERT_EQ(out.status, 0) << out.errors;
    const auto report = splitLines(readFile(dir.file("_cell.csv")));
    ASSERT_GT(report.size(), 1u);
    std::vector<std::vector<uint16_t>> masks;
    for (int t = 0; t < frames; ++t) {
        uint32_t w = 0, h = 0;
        masks.push_back(readMask(maskPath(ctc, t), w, h));
        ASSERT_EQ(masks.back().size(), 200u * 150u);
    }
    std::vector<std::map<int, int>> unreported(frames);
    for (int t = 0; t < frames; ++t)
        for (uint16_t v : masks[t])
            if (v) unreported[t][v]++;
    for (size_t i = 1; i < report.size(); ++i) {
        const auto f = testing::splitFields(report[i]);
        const int frame = std::stoi(f[0]), id = std::stoi(f[2]), size = std::stoi(f[3]);
        int count = 0, minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
        const auto& mask = masks[frame - 1];
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                if (mask[y * 200 + x] == id + 1) {
                    ++count;
                    minX = std::min(minX, x), maxX = std::max(maxX, x);
                    minY = std::min(minY, y), maxY = std::max(maxY, y);
                }
        EXPECT_EQ(count, size) << report[i];
        EXPECT_EQ((minX + maxX) / 2, std::stoi(f[6])) << report[i];
        EXPECT_EQ((minY + maxY) / 2, std::stoi(f[7])) << report[i];
        unreported[frame - 1].erase(id + 1);
    }
    size_t smallLabels = 0;
    for (int t = 0; t < frames; ++t) {
        for (const auto& [label, count] : unreported[t]) {
            EXPECT_LT(count, small) << "frame " << t + 1 << " label " << label;
            ++smallLabels;
        }
    }
    expectCtcConsistent(ctc, frames, 200, 150);
    const Csv events = readCsv(dir.file("_events.csv"));
    expectTablesAgree(readCsv(dir.file("_tracks.csv")), events, "end of series");
    size_t smallCells = 0;
    for (const auto& row : events.rows) smallCells += std::stoul(row[events.column("small_cells")]);
    EXPECT_GT(smallLabels, 0u);
    EXPECT_EQ(smallLabels, smallCells);

    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    EXPECT_EQ(record["ending"], "finished");
    EXPECT_EQ(record["exit_status"], 0);
    EXPECT_EQ(record["frames_analysed"], frames);
    EXPECT_EQ(record["options"]["-ctc"], ctc);
    EXPECT_EQ(record["options"]["-pixel-size"], 0.0);
    EXPECT_EQ(record["command_line"].size(), 18u);
}

TEST(TrackExports, RealSeriesGiveConsistentResults) {
    struct Series {
        const char* pattern;
        int w, h, count, threshold, size;
    };
    const Series series[] = {
        {"c2c12-phase/c2c12_%04d.png", 234, 234, 10, 12, 15},
        {"mitocheck-nuclei/inv_%04d.png", 211, 190, 30, 15, 40},
        {"t98g-phase/t98g_%04d.png", 640, 512, 37, 20, 100},
    };
    for (const Series& s : series) {
        SCOPED_TRACE(s.pattern);
        const std::string first = std::string(VANTO_SHARED_DATA) + "/" + s.pattern;
        char firstFrame[512];
        std::snprintf(firstFrame, sizeof firstFrame, first.c_str(), 1);
        VANTO_NEED_SHARED_DATA(std::string(firstFrame));
        TempDir dir;
        const std::string ctc = dir.file("ctc");
        const auto out = runProgram({"-source", std::string(VANTO_SHARED_DATA) + "/" + s.pattern, "-w",
                                     std::to_string(s.w), "-h", std::to_string(s.h), "-count", std::to_string(s.count),
                                     "-threshold", std::to_string(s.threshold), "-size", std::to_string(s.size),
                                     "-output", dir.path(), "-ctc", ctc, "-tracks"});
        ASSERT_EQ(out.status, 0) << out.errors;
        expectCtcConsistent(ctc, s.count, s.w, s.h);
        const Csv events = readCsv(dir.file("_events.csv"));
        EXPECT_EQ(events.rows.size(), static_cast<size_t>(s.count));
        expectTablesAgree(readCsv(dir.file("_tracks.csv")), events, "end of series");
    }
}

TEST(TrackExports, ACellLimitStopLeavesConsistentFiles) {
    TempDir dir;
    ASSERT_TRUE(testing::writeSparseFrame(dir.file("f_1.png"), 1));
    ASSERT_TRUE(testing::writeSparseFrame(dir.file("f_2.png"), 1));
    ASSERT_TRUE(testing::writeCrowdedFrame(dir.file("f_3.png")));  // over the cell limit
    ASSERT_TRUE(testing::writeSparseFrame(dir.file("f_4.png"), 1));
    const std::string ctc = dir.file("ctc");
    const auto out = runProgram({"-source", dir.path() + "/f_%d.png", "-w", "945", "-h", "945", "-count", "4",
                                 "-threshold", "20", "-output", dir.path(), "-ctc", ctc, "-tracks"});
    ASSERT_EQ(out.status, 0) << out.errors;
    ASSERT_EQ(splitLines(out.console).back(), "Cell Number Too Much ");
    expectCtcConsistent(ctc, 2, testing::kLimitSide, testing::kLimitSide);
    const Csv tracks = readCsv(dir.file("_tracks.csv"));
    const Csv events = readCsv(dir.file("_events.csv"));
    EXPECT_EQ(events.rows.size(), 2u);
    ASSERT_FALSE(tracks.rows.empty());
    expectTablesAgree(tracks, events, "stopped");
    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    EXPECT_EQ(record["ending"], "cell limit");
    EXPECT_EQ(record["frames_analysed"], 2);
    EXPECT_EQ(record["exit_status"], 0);
}

TEST(TrackExports, OptionsAreCheckedBeforeTheRunStarts) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("full"));
    std::ofstream(dir.file("full/x")) << "x";
    std::ofstream(dir.file("plain")) << "x";
    const std::vector<std::vector<std::string>> refused = {
        {"-ctc", dir.file("full")},
        {"-ctc", dir.file("plain")},
        {"-tracks", "-pixel-size", "-0.5"},
        {"-tracks", "-frame-interval", "nan"},
    };
    for (auto words : refused) {
        words.insert(words.end(), {"-output", dir.path(), "-count", "0"});
        const auto out = runProgram(words);
        EXPECT_EQ(out.status, 1) << words[1];
        EXPECT_EQ(splitLines(out.errors).size(), 1u) << out.errors;
        EXPECT_EQ(out.console, "") << words[1];
    }
    // A missing folder is created; a run without frames leaves empty but whole outputs.
    const auto out = runProgram({"-ctc", dir.file("new/ctc"), "-tracks", "-output", dir.path(), "-count", "0"});
    ASSERT_EQ(out.status, 0) << out.errors;
    EXPECT_EQ(readFile(dir.file("new/ctc/res_track.txt")), "");
    EXPECT_EQ(splitLines(readFile(dir.file("_tracks.csv"))).size(), 1u);
    EXPECT_EQ(splitLines(readFile(dir.file("_events.csv"))).size(), 1u);
}

TEST(TrackExports, AFailedWriteIsOneErrorAndFailsTheRun) {
    TempDir dir;
    for (const char* name : {"none_1.tif", "none_2.tif"}) std::ofstream(dir.file(name)) << "not an image";
    const auto out = testing::runChild({"-source", dir.path() + "/none_%d.tif", "-w", "8", "-h", "6", "-count", "2",
                                        "-output", dir.path(), "-tracks"},
                                       testing::fullDiskFor("/_events.csv"));
    EXPECT_EQ(out.status, 1);
    // The frames are missing on purpose; of the write failure there is exactly one line.
    std::vector<std::string> writeErrors;
    for (const auto& line : splitLines(out.errors))
        if (line.find("cannot write") != std::string::npos) writeErrors.push_back(line);
    ASSERT_EQ(writeErrors.size(), 1u) << out.errors;
    EXPECT_NE(writeErrors[0].find("_events.csv"), std::string::npos) << writeErrors[0];
    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    EXPECT_EQ(record["ending"], "failed");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_EQ(record["errors"].size(), 1u);
}

TEST(RunRecordFile, NamesTheUnreadableFramesAndIsWrittenWithoutTheNewOptions) {
    TempDir dir;
    const std::vector<uint8_t> gray(8 * 6, 128);
    ASSERT_TRUE(writeGrayPng(dir.file("some_1.tif").c_str(), 8, 6, gray.data()));
    for (const char* name : {"some_2.tif", "some_3.tif"}) std::ofstream(dir.file(name)) << "not an image";
    const auto out = runProgram({"-source", dir.path() + "/some_%d.tif", "-w", "8", "-h", "6", "-count", "3",
                                 "-output", dir.path()});
    ASSERT_EQ(out.status, 2) << out.errors;  // finished, with unreadable frames
    EXPECT_FALSE(std::filesystem::exists(dir.file("_tracks.csv")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("_events.csv")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("_run.json.tmp")));
    const auto record = nlohmann::json::parse(readFile(dir.file("_run.json")));
    ASSERT_EQ(record["unreadable_frames"].size(), 2u);
    EXPECT_EQ(record["unreadable_frames"][1]["frame"], 3);
    EXPECT_EQ(record["frames_analysed"], 3);
    EXPECT_EQ(record["ending"], "finished");
    EXPECT_EQ(record["exit_status"], 2);
    EXPECT_EQ(record["options"]["-tracks"], false);
    EXPECT_EQ(record["options"]["-w"], 8);
    EXPECT_FALSE(record["start_time"].get<std::string>().empty());
    EXPECT_FALSE(record["end_time"].is_null());
}

}  // namespace
}  // namespace vanto
