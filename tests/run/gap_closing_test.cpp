// Gap closing (-close-gaps, -gap-distance) on drawn series: which tracks are joined, how the
// track table and res_track.txt tell them, and that nothing else changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "csv_table.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;

// A drawn series: dark 10 x 10 squares (or wider rectangles) on a bright ground. Segmentation
// adds a margin of 4 pixels, so a square at (x, y) becomes a cell of 320 pixels centred at
// (x + 4, y + 4) in the cell report.
class Drawing {
public:
    Drawing(int width, int height) : width_(width), height_(height), frame_(static_cast<size_t>(width * height), 200) {}
    Drawing& rect(int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) frame_[static_cast<size_t>(y * width_ + x)] = 40;
        return *this;
    }
    Drawing& square(int x, int y) { return rect(x, y, x + 9, y + 9); }
    // Writes the frame as f_<number>.png and starts the next one blank.
    void write(const TempDir& dir, int number) {
        ASSERT_TRUE(writeGrayPng(dir.file("f_" + std::to_string(number) + ".png").c_str(), width_, height_,
                                 frame_.data()));
        std::fill(frame_.begin(), frame_.end(), 200);
    }
    std::vector<std::string> words(const TempDir& frames, int count, const std::string& output) const {
        return {"-source", frames.path() + "/f_%d.png", "-w", std::to_string(width_), "-h", std::to_string(height_),
                "-count", std::to_string(count), "-threshold", "20", "-size", "5", "-output", output, "-tracks"};
    }

private:
    int width_;
    int height_;
    std::vector<uint8_t> frame_;
};

std::vector<std::string> with(std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

struct Results {
    std::string tracks;
    std::string lineage;
};

// A run of words into a fresh output folder with CTC results.
Results analyse(const std::vector<std::string>& words, const TempDir& out) {
    const std::string ctc = out.file("ctc");
    const auto run = runProgram(with(words, {"-ctc", ctc}));
    EXPECT_EQ(run.status, 0) << run.errors;
    return {readFile(out.file("_tracks.csv")), readFile(ctc + "/res_track.txt")};
}

const std::string kHeader =
    "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size,bridged_frames,joined\n";

// Cell A is missed in frame 3, cell B in frames 3 and 4; X is always there.
// A: frames 1-2 at (10, 10); frame 4 at (12, 11), a bridge of sqrt(5) pixels; frames 5-6 at
// (15, 15), a step of 5 pixels. B: frames 1-2 and 5-6 at (70, 10). X: (10, 55).
// Identities: A 0, B 1, X 2; A's return 3 (frame 4), B's return 4 (frame 5).
void drawMissedCells(const TempDir& dir) {
    Drawing d(140, 90);
    for (int j = 1; j <= 6; ++j) {
        d.square(10, 55);
        if (j <= 2) d.square(10, 10).square(70, 10);
        if (j == 4) d.square(12, 11);
        if (j >= 5) d.square(15, 15).square(70, 10);
        d.write(dir, j);
    }
}

TEST(GapClosing, ACellMissedForOneOrTwoFramesIsJoinedWhenTheGapIsAllowed) {
    TempDir frames;
    drawMissedCells(frames);
    Drawing words(140, 90);

    TempDir plainOut;
    const Results plain = analyse(words.words(frames, 6, plainOut.path()), plainOut);
    EXPECT_EQ(plain.tracks,
              "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size\n"
              "0,1,2,2,,lost,,0.00,320.000,320\n"
              "1,1,2,2,,lost,,0.00,320.000,320\n"
              "2,1,6,6,,end of series,,0.00,320.000,320\n"
              "3,4,6,3,,end of series,,5.00,320.000,320\n"
              "4,5,6,2,,end of series,,0.00,320.000,320\n");
    EXPECT_EQ(plain.lineage, "1 0 1 0\n2 0 1 0\n3 0 5 0\n4 3 5 0\n5 4 5 0\n");

    // One frame allowed: A is joined, B (two frames missing) is not.
    TempDir oneOut;
    const Results one = analyse(with(words.words(frames, 6, oneOut.path()), {"-close-gaps", "1"}), oneOut);
    EXPECT_EQ(one.tracks, kHeader +
                              "0,1,6,5,,end of series,,7.23,320.000,320,1,3\n"
                              "1,1,2,2,,lost,,0.00,320.000,320,0,\n"
                              "2,1,6,6,,end of series,,0.00,320.000,320,0,\n"
                              "4,5,6,2,,end of series,,0.00,320.000,320,0,\n");
    EXPECT_EQ(one.lineage, "1 0 1 0\n2 0 1 0\n3 0 5 0\n4 3 5 1\n5 4 5 0\n");

    // Two frames allowed: both are joined. With the calibration the duration spans the gaps.
    TempDir twoOut;
    const Results two = analyse(with(words.words(frames, 6, twoOut.path()), {"-close-gaps", "2"}), twoOut);
    EXPECT_EQ(two.tracks, kHeader +
                              "0,1,6,5,,end of series,,7.23,320.000,320,1,3\n"
                              "1,1,6,4,,end of series,,0.00,320.000,320,2,4\n"
                              "2,1,6,6,,end of series,,0.00,320.000,320,0,\n");
    EXPECT_EQ(two.lineage, "1 0 1 0\n2 0 1 0\n3 0 5 0\n4 3 5 1\n5 4 5 2\n");

    // Too short a distance joins nothing (A's bridge is 2.24 pixels, B's 0).
    TempDir nearOut;
    const Results near = analyse(
        with(words.words(frames, 6, nearOut.path()), {"-close-gaps", "2", "-gap-distance", "2", "-frame-interval", "3"}),
        nearOut);
    const auto nearRows = splitLines(near.tracks);
    ASSERT_EQ(nearRows.size(), 5u) << near.tracks;
    EXPECT_EQ(nearRows[0], "track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size,"
                           "duration_min,bridged_frames,joined");
    EXPECT_EQ(nearRows[1], "0,1,2,2,,lost,,0.00,320.000,320,3.0000,0,");
    EXPECT_EQ(nearRows[2], "1,1,6,4,,end of series,,0.00,320.000,320,15.0000,2,4");
    EXPECT_EQ(near.lineage, "1 0 1 0\n2 0 1 0\n3 0 5 0\n4 3 5 0\n5 4 5 2\n");

    // The cell report, the event table (without the time column), the masks and the log are
    // those of the plain run.
    for (const TempDir* out : {&oneOut, &twoOut, &nearOut}) {
        EXPECT_EQ(readFile(out->file("_cell.csv")), readFile(plainOut.file("_cell.csv")));
        if (out != &nearOut) {
            EXPECT_EQ(readFile(out->file("_events.csv")), readFile(plainOut.file("_events.csv")));
        }
        for (int t = 0; t < 6; ++t) {
            const std::string mask = "ctc/mask00" + std::to_string(t) + ".tif";
            EXPECT_EQ(readFile(out->file(mask)), readFile(plainOut.file(mask))) << mask;
        }
        auto untimed = [](const std::string& text) {
            std::vector<std::string> lines;
            for (const auto& line : splitLines(text))
                if (line.rfind("--- Analysis Finished in ", 0) != 0) lines.push_back(line);
            return lines;
        };
        EXPECT_EQ(untimed(readFile(out->file("_log.txt"))), untimed(readFile(plainOut.file("_log.txt"))));
    }
}

// The per-cell table tells each cell under its joined track, as _tracks.csv does; without
// gap closing its track column holds the identities as tracked.
TEST(GapClosing, TheObjectTableTellsTheJoinedTracks) {
    TempDir frames;
    drawMissedCells(frames);
    Drawing words(140, 90);
    // (frame, track) of every row, from the table's own columns.
    auto framesAndTracks = [](const std::string& path) {
        const testing::CsvTable table = testing::readCsvTable(path);
        std::vector<std::string> rows;
        for (size_t i = 0; i < table.rows.size(); ++i) rows.push_back(table.at(i, "frame") + ":" + table.at(i, "track"));
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::vector<std::string> asTracked = {"1:0", "1:1", "1:2", "2:0", "2:1", "2:2", "3:2", "4:2",
                                                "4:3", "5:2", "5:3", "5:4", "6:2", "6:3", "6:4"};
    const std::vector<std::string> joined = {"1:0", "1:1", "1:2", "2:0", "2:1", "2:2", "3:2", "4:0",
                                             "4:2", "5:0", "5:1", "5:2", "6:0", "6:1", "6:2"};

    TempDir plainOut;
    analyse(with(words.words(frames, 6, plainOut.path()), {"-objects"}), plainOut);
    EXPECT_EQ(framesAndTracks(plainOut.file("_objects.csv")), asTracked);

    TempDir joinedOut;
    analyse(with(words.words(frames, 6, joinedOut.path()), {"-objects", "-close-gaps", "2"}), joinedOut);
    EXPECT_EQ(framesAndTracks(joinedOut.file("_objects.csv")), joined);
    // Only the track columns differ from the table as tracked; no file is left beside it.
    const testing::CsvTable plain = testing::readCsvTable(plainOut.file("_objects.csv"));
    const testing::CsvTable rewritten = testing::readCsvTable(joinedOut.file("_objects.csv"));
    ASSERT_EQ(rewritten.header, plain.header);
    ASSERT_EQ(rewritten.rows.size(), plain.rows.size());
    int changed = 0;
    for (size_t i = 0; i < plain.rows.size(); ++i) {
        for (size_t c = 0; c < plain.header.size(); ++c) {
            if (plain.header[c] == "track") {
                changed += rewritten.rows[i][c] != plain.rows[i][c];
            } else {
                EXPECT_EQ(rewritten.rows[i][c], plain.rows[i][c]) << "row " << i + 1 << ", " << plain.header[c];
            }
        }
    }
    EXPECT_EQ(changed, 5);  // A's return in frames 4-6, B's in frames 5-6
    EXPECT_FALSE(std::filesystem::exists(joinedOut.file("_objects.csv.joining")));
}

// Two new tracks could continue one lost track, and one new track could continue two lost
// ones: the nearest pair wins, whatever the order of the identities.
// Top row: A at (40, 30) in frames 1-2; in frames 4-5 F at (10, 30), 30 pixels away, and N at
// (48, 30), 8 pixels away. Bottom row: A1 at (10, 100) and A2 at (60, 100) in frames 1-2; in
// frames 4-5 B at (48, 100), 38 pixels from A1 and 12 from A2.
// Identities: A 0, A1 1, A2 2; F 3, N 4, B 5.
TEST(GapClosing, CandidatesCompetingForOneGapAreResolvedByDistance) {
    TempDir frames;
    Drawing d(140, 140);
    for (int j = 1; j <= 5; ++j) {
        if (j <= 2) d.square(40, 30).square(10, 100).square(60, 100);
        if (j >= 4) d.square(10, 30).square(48, 30).square(48, 100);
        d.write(frames, j);
    }
    TempDir out;
    const Results joined =
        analyse(with(d.words(frames, 5, out.path()), {"-close-gaps", "1", "-gap-distance", "40"}), out);
    EXPECT_EQ(joined.tracks, kHeader +
                                 "0,1,5,4,,end of series,,8.00,320.000,320,1,4\n"
                                 "1,1,2,2,,lost,,0.00,320.000,320,0,\n"
                                 "2,1,5,4,,end of series,,12.00,320.000,320,1,5\n"
                                 "3,4,5,2,,end of series,,0.00,320.000,320,0,\n");
    EXPECT_EQ(joined.lineage, "1 0 1 0\n2 0 1 0\n3 0 1 0\n4 3 4 0\n5 3 4 1\n6 3 4 3\n");
}

// Tracks that ended by a split or a merge are never continued, however near a new track
// begins. Frame 1: S (40 x 12) at (10, 10), M1 and M2 at (64, 10) and (94, 10). Frame 2 on:
// S's two ends, M1 and M2 as one cell. Frame 3 on: N at (25, 50), 39 pixels below S's centre,
// and N2 at (94, 50), 40 pixels below M2.
TEST(GapClosing, TracksEndedBySplitOrMergeAreNeverJoined) {
    TempDir frames;
    Drawing d(140, 90);
    d.rect(10, 10, 49, 21).square(64, 10).square(94, 10);
    d.write(frames, 1);
    for (int j = 2; j <= 4; ++j) {
        d.rect(10, 10, 19, 21).rect(40, 10, 49, 21).rect(64, 10, 103, 19);
        if (j >= 3) d.square(25, 50).square(94, 50);
        d.write(frames, j);
    }
    TempDir plainOut, out;
    const Results plain = analyse(d.words(frames, 4, plainOut.path()), plainOut);
    const Results closed =
        analyse(with(d.words(frames, 4, out.path()), {"-close-gaps", "2", "-gap-distance", "45"}), out);
    const auto plainRows = splitLines(plain.tracks);
    const auto closedRows = splitLines(closed.tracks);
    ASSERT_EQ(plainRows.size(), 9u) << plain.tracks;
    EXPECT_EQ(plainRows[1], "0,1,1,1,,split,3 4,0.00,956.000,956");
    EXPECT_EQ(plainRows[3], "2,1,1,1,,merged,5,0.00,320.000,320");
    EXPECT_EQ(plainRows[7], "6,3,4,2,,end of series,,0.00,320.000,320");
    ASSERT_EQ(closedRows.size(), plainRows.size()) << closed.tracks;
    EXPECT_EQ(closedRows[0], kHeader.substr(0, kHeader.size() - 1));
    for (size_t i = 1; i < plainRows.size(); ++i) EXPECT_EQ(closedRows[i], plainRows[i] + ",0,");
    EXPECT_EQ(closed.lineage, plain.lineage);
}

TEST(GapClosing, OptionsAreCheckedBeforeTheRunStarts) {
    TempDir dir;
    const std::vector<std::vector<std::string>> refused = {
        {"-close-gaps", "2"},  // no track output to join tracks in
        {"-tracks", "-close-gaps", "-1"},
        {"-tracks", "-close-gaps", "1", "-gap-distance", "-3"},
        {"-tracks", "-close-gaps", "1", "-gap-distance", "far"},
    };
    for (auto words : refused) {
        words.insert(words.end(), {"-output", dir.path(), "-count", "0"});
        const auto out = runProgram(words);
        EXPECT_EQ(out.status, 1) << words[1];
        EXPECT_EQ(splitLines(out.errors).size(), 1u) << out.errors;
        EXPECT_FALSE(std::filesystem::exists(dir.file("_log.txt")));
    }
    EXPECT_EQ(runProgram({"-ctc", dir.file("ctc"), "-close-gaps", "3", "-output", dir.path(), "-count", "0"}).status,
              0);
}

}  // namespace
}  // namespace vanto
