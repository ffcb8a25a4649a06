// The per-cell table of -objects against the cell report, the CTC masks and the source values
// the tests write themselves (16-bit frames, a 2-channel hyperstack, a float second series),
// the units it takes from the files, and the reports, log and bitmaps, unchanged by every new option.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "child_run.h"
#include "csv_table.h"
#include "frame_files.h"
#include "mask_files.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::CsvTable;
using testing::readCsvTable;
using testing::readFile;
using testing::readMask;
using testing::runProgram;
using testing::splitFields;
using testing::splitLines;
using testing::TempDir;
using testing::TiffPage;

constexpr int kW = 96, kH = 64, kFrames = 6;

SeriesParams params() {
    SeriesParams p;
    p.width = kW;
    p.height = kH;
    p.cellCount = 8;
    return p;
}

// The analysed channel: the drawn frame scaled to 16 bits with a pattern in the low bits, so
// that no two statistics coincide by accident.
std::vector<float> sixteenBit(int j) {
    std::vector<uint8_t> gray(kW * kH);
    renderSyntheticFrame(params(), j, gray.data());
    std::vector<float> v(gray.size());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) v[y * kW + x] = static_cast<float>(gray[y * kW + x] * 200 + (x * 7 + y * 13 + j) % 97);
    return v;
}

// A second channel unrelated to the cells.
std::vector<float> otherChannel(int j) {
    std::vector<float> v(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) v[y * kW + x] = static_cast<float>((x * 31 + y * 17 + 5 * j) % 3000 + 100);
    return v;
}

// A float series: fractions that 32-bit floats hold exactly and inexactly.
std::vector<float> floatFrame(int j) {
    std::vector<float> v(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) v[y * kW + x] = 0.1f * static_cast<float>((x + 2 * y + j) % 50) + 0.25f;
    return v;
}

TiffPage page16(const std::vector<float>& v) {
    TiffPage p = testing::grayPage(kW, kH, 16);
    std::vector<uint16_t> s(v.begin(), v.end());
    p.data = testing::bytesOf(s);
    return p;
}

TiffPage pageFloat(const std::vector<float>& v) {
    TiffPage p = testing::grayPage(kW, kH, 32, SAMPLEFORMAT_IEEEFP);
    p.data = testing::bytesOf(v);
    return p;
}

std::vector<std::string> words16(const TempDir& dir) {
    for (int j = 1; j <= kFrames; ++j) {
        const std::string path = dir.file("f_" + std::to_string(j) + ".tif");
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(testing::writeTiffPages(path, {page16(sixteenBit(j))}));
        }
    }
    return {"-source", dir.path() + "/f_%d.tif", "-w", std::to_string(kW), "-h", std::to_string(kH), "-count",
            std::to_string(kFrames), "-threshold", "20", "-size", "5", "-range", "0", "51200"};
}

void writeFloatSeries(const TempDir& dir) {
    for (int j = 1; j <= kFrames; ++j)
        ASSERT_TRUE(testing::writeTiffPages(dir.file("m_" + std::to_string(j) + ".tif"), {pageFloat(floatFrame(j))}));
}

std::vector<std::string> with(std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

// The statistics of one label of a mask over values, computed here from their definitions.
struct Expected {
    int64_t count = 0;
    double mean = 0, median = 0, min = 0, max = 0, deviation = 0, integrated = 0;
    int64_t ringCount = 0;
    double background = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Expected expectedStats(const std::vector<uint16_t>& mask, uint16_t label, const std::vector<float>& values) {
    Expected e;
    std::vector<double> inside;
    std::vector<std::pair<int, int>> pixels;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (mask[y * kW + x] == label) {
                inside.push_back(values[y * kW + x]);
                pixels.emplace_back(x, y);
            }
    e.count = static_cast<int64_t>(inside.size());
    if (inside.empty()) return e;
    for (double v : inside) e.integrated += v;
    e.mean = e.integrated / static_cast<double>(e.count);
    for (double v : inside) e.deviation += (v - e.mean) * (v - e.mean);
    e.deviation = std::sqrt(e.deviation / static_cast<double>(e.count));
    e.min = *std::min_element(inside.begin(), inside.end());
    e.max = *std::max_element(inside.begin(), inside.end());
    e.median = median(inside);
    // The ring: pixels of no cell whose nearest pixel of the cell is 2 to 4 pixels away.
    std::vector<double> ring;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (mask[y * kW + x] != 0) continue;
            int nearest = 1 << 30;
            for (const auto& [px, py] : pixels) nearest = std::min(nearest, (x - px) * (x - px) + (y - py) * (y - py));
            if (nearest >= 4 && nearest <= 16) ring.push_back(values[y * kW + x]);
        }
    e.ringCount = static_cast<int64_t>(ring.size());
    if (!ring.empty()) e.background = median(ring);
    return e;
}

// One row's intensity columns of prefix against what the mask and values give.
void expectIntensities(const CsvTable& t, size_t row, const std::string& prefix, const Expected& e, double tolerance) {
    const auto value = [&](const std::string& name) {
        const std::string& text = t.at(row, prefix + name);
        EXPECT_FALSE(text.empty()) << prefix + name;
        return text.empty() ? NAN : std::stod(text);
    };
    const auto near = [&](double got, double want, double slack) { EXPECT_NEAR(got, want, slack + tolerance * std::fabs(want)); };
    near(value("mean_intensity"), e.mean, 5e-5);
    near(value("median_intensity"), e.median, 0);
    near(value("min_intensity"), e.min, 0);
    near(value("max_intensity"), e.max, 0);
    near(value("std_intensity"), e.deviation, 5e-5);
    near(value("integrated_intensity"), e.integrated, 0);
    ASSERT_GT(e.ringCount, 0);
    near(value("background_intensity"), e.background, 0);
    near(value("corrected_integrated_intensity"), e.integrated - static_cast<double>(e.count) * e.background,
         1e-9 * e.integrated);
}

std::string maskPath(const std::string& dir, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "/mask%03d.tif", index);
    return dir + name;
}

// Every row of the table against the masks: its label's pixels are its area, and each plane's
// intensity columns are those the plane's values give over them.
void expectAgainstMasks(const CsvTable& t, const std::string& ctcDir,
                        const std::vector<std::pair<std::string, std::vector<float> (*)(int)>>& planes,
                        double tolerance) {
    int checked = 0;
    for (int j = 1; j <= kFrames; ++j) {
        uint32_t w = 0, h = 0;
        const std::vector<uint16_t> mask = readMask(maskPath(ctcDir, j - 1), w, h);
        ASSERT_EQ(mask.size(), static_cast<size_t>(kW * kH));
        for (size_t r = 0; r < t.rows.size(); ++r) {
            if (std::stoi(t.at(r, "frame")) != j) continue;
            const uint16_t label = static_cast<uint16_t>(std::stoi(t.at(r, "track")) + 1);
            for (const auto& [prefix, values] : planes) {
                const Expected e = expectedStats(mask, label, values(j));
                EXPECT_EQ(e.count, std::stoll(t.at(r, "area_px"))) << "frame " << j << " track " << label - 1;
                SCOPED_TRACE("frame " + std::to_string(j) + " track " + std::to_string(label - 1) + " " + prefix);
                expectIntensities(t, r, prefix, e, tolerance);
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 2 * kFrames);
}

TEST(ObjectsTable, RowsMatchTheCellReportAndTheMasksOf16BitFrames) {
    TempDir dir, out;
    const auto words = with(words16(dir), {"-output", out.path(), "-objects", "-tracks", "-ctc", out.file("ctc"),
                                           "-threads", "1"});
    const auto run = runProgram(words);
    ASSERT_EQ(run.status, 0) << run.errors;
    const CsvTable objects = readCsvTable(out.file("_objects.csv"));
    ASSERT_FALSE(objects.rows.empty());
    EXPECT_FALSE(objects.has("time_min") || objects.has("x_um"));  // no units in these files

    // The cell report's rows are the objects that are not small, in the same order.
    std::vector<std::vector<std::string>> cellRows;
    for (const auto& line : splitLines(readFile(out.file("_cell.csv")))) cellRows.push_back(splitFields(line));
    size_t next = 1;
    std::map<int, int> perFrame;
    int smallRows = 0;
    for (size_t r = 0; r < objects.rows.size(); ++r) {
        const int frame = std::stoi(objects.at(r, "frame"));
        EXPECT_EQ(std::stoi(objects.at(r, "cell")), perFrame[frame]++) << "cells are numbered from 0 in each frame";
        if (objects.at(r, "small") == "1") {
            ++smallRows;
            continue;
        }
        EXPECT_EQ(objects.at(r, "small"), "0");
        ASSERT_LT(next, cellRows.size());
        const auto& c = cellRows[next++];
        EXPECT_EQ(objects.at(r, "frame"), c[0]);
        EXPECT_EQ(objects.at(r, "cell"), c[1]);
        EXPECT_EQ(objects.at(r, "track"), c[2]);
        EXPECT_EQ(objects.at(r, "area_px"), c[3]);
        EXPECT_EQ(objects.at(r, "perimeter_px"), c[4]);
        EXPECT_EQ(objects.at(r, "x_px"), c[6]);
        EXPECT_EQ(objects.at(r, "y_px"), c[7]);
        EXPECT_DOUBLE_EQ(std::stod(objects.at(r, "width_max_px")), std::stod(c[16]));
        if (c.size() > 29 && !c[29].empty()) {
            EXPECT_NEAR(std::stod(objects.at(r, "step_px")), std::stod(c[29]), 1e-4);
            EXPECT_NEAR(std::stod(objects.at(r, "direction_deg")), std::stod(c[28]), 1e-3);
        } else {
            EXPECT_EQ(objects.at(r, "step_px"), "");
        }
        const bool edge = std::stoi(c[9]) == 0 || std::stoi(c[10]) == 0 || std::stoi(c[11]) == kW - 1 ||
                          std::stoi(c[12]) == kH - 1;
        EXPECT_EQ(objects.at(r, "edge"), edge ? "1" : "0");
    }
    EXPECT_EQ(next, cellRows.size()) << "cell report rows left over";

    // Every final cell of a frame has its row: the event table's count.
    const CsvTable events = readCsvTable(out.file("_events.csv"));
    for (size_t r = 0; r < events.rows.size(); ++r)
        EXPECT_EQ(perFrame[std::stoi(events.at(r, "frame"))], std::stoi(events.at(r, "cells")));

    // A track's first row names the parents the track table gives it.
    const CsvTable tracks = readCsvTable(out.file("_tracks.csv"));
    for (size_t k = 0; k < tracks.rows.size(); ++k) {
        for (size_t r = 0; r < objects.rows.size(); ++r) {
            if (objects.at(r, "track") == tracks.at(k, "track") &&
                objects.at(r, "frame") == tracks.at(k, "first_frame")) {
                EXPECT_EQ(objects.at(r, "parent_tracks"), tracks.at(k, "parents")) << "track " << k;
            }
        }
    }

    expectAgainstMasks(objects, out.file("ctc"), {{"", &sixteenBit}}, 0);

    // The same bytes with any number of threads.
    for (const char* threads : {"3", "0"}) {
        TempDir again;
        auto other = words;
        other[other.size() - 1] = threads;
        *std::find(other.begin(), other.end(), out.path()) = again.path();
        *std::find(other.begin(), other.end(), out.file("ctc")) = again.file("ctc");
        ASSERT_EQ(runProgram(other).status, 0);
        EXPECT_EQ(readFile(again.file("_objects.csv")), readFile(out.file("_objects.csv"))) << threads << " threads";
    }
}

// A 2-channel ImageJ hyperstack analysed in channel 1 with channel 2 measured, and a float
// series measured beside it.
TEST(ObjectsTable, ChannelsAndASecondSeriesAgainstTheMasks) {
    TempDir dir, out;
    std::vector<TiffPage> pages;
    for (int j = 1; j <= kFrames; ++j) {
        pages.push_back(page16(sixteenBit(j)));
        pages.push_back(page16(otherChannel(j)));
    }
    pages[0].description = "ImageJ=1.53t\nimages=" + std::to_string(2 * kFrames) +
                           "\nchannels=2\nframes=" + std::to_string(kFrames) + "\nhyperstack=true\n";
    ASSERT_TRUE(testing::writeTiffPages(dir.file("stack.tif"), pages));
    writeFloatSeries(dir);
    const auto run = runProgram({"-source", dir.file("stack.tif"), "-channel", "1", "-w", std::to_string(kW), "-h",
                                 std::to_string(kH), "-threshold", "20", "-size", "5", "-range", "0", "51200",
                                 "-output", out.path(), "-objects", "-measure-channel", "2", "-measure-source",
                                 dir.path() + "/m_%d.tif", "-ctc", out.file("ctc")});
    ASSERT_EQ(run.status, 0) << run.errors;
    const CsvTable objects = readCsvTable(out.file("_objects.csv"));
    const std::string header = splitLines(readFile(out.file("_objects.csv")))[0];
    EXPECT_NE(header.find(",mean_intensity,"), std::string::npos);
    EXPECT_NE(header.find(",ch2_mean_intensity,"), std::string::npos);
    EXPECT_NE(header.find(",src_mean_intensity,"), std::string::npos);
    EXPECT_EQ(header.find(",ch1_"), std::string::npos);
    expectAgainstMasks(objects, out.file("ctc"), {{"", &sixteenBit}, {"ch2_", &otherChannel}, {"src_", &floatFrame}},
                       1e-6);
    // Float samples stay floats: 0.1 x k + 0.25 is written as the float's shortest text.
    for (size_t r = 0; r < objects.rows.size(); ++r) {
        const std::string& low = objects.at(r, "src_min_intensity");
        EXPECT_LE(low.size(), 10u) << low;
    }
}

TEST(ObjectsTable, TheReportsLogAndBitmapsAreUnchangedByTheNewOptions) {
    TempDir dir, plain, full;
    writeFloatSeries(dir);
    const auto base = with(words16(dir), {"-image", "-voronoi", "-id", "-threads", "2"});
    const auto a = runProgram(with(base, {"-output", plain.path()}));
    const auto b = runProgram(with(base, {"-output", full.path(), "-objects", "-measure-source",
                                          dir.path() + "/m_%d.tif", "-tracks", "-ctc", full.file("ctc")}));
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0) << b.errors;
    const auto masked = [](const std::string& text) {
        return std::regex_replace(text, std::regex("Finished in [0-9]+"), "Finished in T");
    };
    EXPECT_EQ(masked(a.console), masked(b.console));
    EXPECT_EQ(a.errors, b.errors);
    EXPECT_EQ(masked(readFile(plain.file("_log.txt"))), masked(readFile(full.file("_log.txt"))));
    EXPECT_EQ(readFile(plain.file("_cell.csv")), readFile(full.file("_cell.csv")));
    const auto averages = [](const std::string& path) {
        std::string kept;
        for (const auto& line : splitLines(readFile(path))) {
            auto f = splitFields(line);
            if (f.size() > 1 && !f[0].empty() && std::isdigit(static_cast<unsigned char>(f[0][0]))) f[1] = "T";
            for (const auto& field : f) kept += field + ",";
            kept += "\n";
        }
        return kept;
    };
    EXPECT_EQ(averages(plain.file("_average.csv")), averages(full.file("_average.csv")));
    for (int j = 1; j <= kFrames; ++j) {
        char name[64];
        std::snprintf(name, sizeof name, "10_Calculation_%04d.bmp", j);
        EXPECT_EQ(readFile(plain.file(name)), readFile(full.file(name))) << name;
        std::snprintf(name, sizeof name, "12_Voronoi_%04d.bmp", j);
        EXPECT_EQ(readFile(plain.file(name)), readFile(full.file(name))) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(plain.file("_objects.csv")));
}

// Units stated by the file reach every table and the run record; an option wins over the file.
TEST(ObjectsTable, UnitsFromTheFileAndFromTheOptions) {
    TempDir dir;
    std::vector<TiffPage> pages;
    for (int j = 1; j <= kFrames; ++j) pages.push_back(page16(sixteenBit(j)));
    pages[0].description =
        "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\"><Image ID=\"Image:0\">"
        "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SizeX=\"96\" SizeY=\"64\" SizeC=\"1\" "
        "SizeZ=\"1\" SizeT=\"6\" PhysicalSizeX=\"500\" PhysicalSizeXUnit=\"nm\" TimeIncrement=\"120\" "
        "TimeIncrementUnit=\"s\"/></Image></OME>";
    pages[0].xResolution = 10000;  // 1 um per pixel by the tags: OME-XML comes first
    pages[0].resolutionUnit = RESUNIT_CENTIMETER;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("ome.tif"), pages));
    const std::vector<std::string> base = {"-source", dir.file("ome.tif"), "-w", "96", "-h", "64", "-threshold",
                                           "20", "-size", "5", "-range", "0", "51200", "-objects", "-tracks"};
    struct Case {
        std::vector<std::string> more;
        double pixel, interval;
        const char *pixelFrom, *intervalFrom;
    };
    for (const Case& c : {Case{{}, 0.5, 2, "OME-XML", "OME-XML"},
                          Case{{"-pixel-size", "0.25"}, 0.25, 2, "-pixel-size", "OME-XML"},
                          Case{{"-frame-interval", "7"}, 0.5, 7, "OME-XML", "-frame-interval"}}) {
        TempDir out;
        const auto run = runProgram(with(with(base, c.more), {"-output", out.path()}));
        ASSERT_EQ(run.status, 0) << run.errors;
        const auto record = nlohmann::json::parse(readFile(out.file("_run.json")));
        EXPECT_DOUBLE_EQ(record["units"]["pixel_size_um"].get<double>(), c.pixel);
        EXPECT_DOUBLE_EQ(record["units"]["frame_interval_min"].get<double>(), c.interval);
        EXPECT_EQ(record["units"]["pixel_size_from"], c.pixelFrom);
        EXPECT_EQ(record["units"]["frame_interval_from"], c.intervalFrom);
        const CsvTable objects = readCsvTable(out.file("_objects.csv"));
        for (size_t r = 0; r < objects.rows.size(); ++r) {
            EXPECT_NEAR(std::stod(objects.at(r, "x_um")), std::stod(objects.at(r, "x_px")) * c.pixel, 1e-4);
            EXPECT_NEAR(std::stod(objects.at(r, "area_um2")),
                        std::stod(objects.at(r, "area_px")) * c.pixel * c.pixel, 1e-4);
            EXPECT_NEAR(std::stod(objects.at(r, "time_min")), (std::stoi(objects.at(r, "frame")) - 1) * c.interval,
                        1e-4);
        }
        EXPECT_TRUE(readCsvTable(out.file("_events.csv")).has("time_min"));
        const CsvTable tracks = readCsvTable(out.file("_tracks.csv"));
        ASSERT_TRUE(tracks.has("mean_size_um2"));
        EXPECT_NEAR(std::stod(tracks.at(0, "max_size_um2")), std::stod(tracks.at(0, "max_size")) * c.pixel * c.pixel,
                    1e-4);
    }
}

// The README's pandas lines run on a table the program wrote (Debian's Python holds pandas).
TEST(ObjectsTable, TheReadmePandasLinesRun) {
    if (std::system("/usr/bin/python3 -c 'import pandas' 2>/dev/null") != 0) GTEST_SKIP() << "no pandas";
    const std::string readme = readFile(std::string(VANTO_SOURCE_DIR) + "/README.md");
    const size_t section = readme.find("### Analysing the results in pandas");
    ASSERT_NE(section, std::string::npos);
    const size_t begin = readme.find("```python\n", section);
    const size_t end = readme.find("```\n", begin + 10);
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos);
    std::string lines = readme.substr(begin + 10, end - begin - 10);
    TempDir dir, out;
    ASSERT_EQ(runProgram(with(words16(dir), {"-output", out.path(), "-objects"})).status, 0);
    lines = std::regex_replace(lines, std::regex("RESULTS/"), out.path() + "/");
    // Each worked line's value is printed, so that one that only names a column still runs it.
    std::string script;
    for (const auto& line : splitLines(lines))
        script += line.rfind("o", 0) == 0 && line.rfind("o =", 0) != 0 ? "print(" + line.substr(0, line.find("  #")) + ")\n"
                                                                      : line + "\n";
    std::FILE* f = std::fopen(out.file("lines.py").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(script.c_str(), f);
    std::fclose(f);
    EXPECT_EQ(std::system(("/usr/bin/python3 " + out.file("lines.py") + " > " + out.file("lines.txt") + " 2>&1").c_str()),
              0)
        << script << readFile(out.file("lines.txt"));
    EXPECT_NE(readFile(out.file("lines.txt")).find("mean_intensity"), std::string::npos);
}

// A failed write in frame 3, of the table or of a report, leaves the table at frame 2: as a
// clean run of two frames wrote it.
TEST(ObjectsTable, AFailedFrameLeavesNoRow) {
    TempDir frames, clean;
    const auto words = [&](const TempDir& out, int count) {
        return with(testing::seriesWords(frames, count, 5), {"-output", out.path(), "-objects", "-threads", "2"});
    };
    ASSERT_EQ(testing::runChild(words(clean, 2)).status, 0);
    const std::string two = readFile(clean.file("_objects.csv"));
    for (const char* name : {"_objects.csv", "_cell.csv"}) {
        TempDir out;
        const std::string failing = name;
        const std::string kept = readFile(clean.file(failing));
        testing::ChildSetup setup;
        setup.environment = {std::string("LD_PRELOAD=") + VANTO_FAULT_SHIM, "VANTO_FAIL_PATH=" + failing,
                             "VANTO_FAIL_AFTER_BYTES=" + std::to_string(kept.size() + 5), "VANTO_FAIL_AT_OPEN"};
        const char* asan = getenv("ASAN_OPTIONS");
        setup.environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
        const auto run = testing::runChild(words(out, 5), setup);
        EXPECT_EQ(run.status, 1) << run.errors;
        EXPECT_NE(run.errors.find("cannot write"), std::string::npos) << run.errors;
        EXPECT_EQ(readFile(out.file("_objects.csv")), two) << failing;
        EXPECT_EQ(readFile(out.file("_cell.csv")), readFile(clean.file("_cell.csv"))) << failing;
    }
}

TEST(ObjectsTable, MeasuredPlanesThatCannotBeHadAreRefused) {
    TempDir dir, out;
    const auto words = with(words16(dir), {"-output", out.path()});
    const auto refusal = [&](const std::vector<std::string>& more) {
        const auto run = runProgram(with(words, more));
        EXPECT_EQ(run.status, 1) << run.errors;
        return run.errors;
    };
    EXPECT_NE(refusal({"-measure-channel", "2"}).find("give -objects"), std::string::npos);
    EXPECT_NE(refusal({"-objects", "-measure-channel", "2"}).find("multi-channel TIFF stack only"), std::string::npos);
    EXPECT_NE(refusal({"-objects", "-measure-channel", "0"}).find("-measure-channel must be 1 or more"),
              std::string::npos);
    EXPECT_NE(refusal({"-objects", "-measure-source", dir.path() + "/none_%d.tif"}).find("cannot measure frame 1"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out.file("_objects.csv")));
}

}  // namespace
}  // namespace vanto
