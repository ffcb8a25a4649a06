// libFuzzer harness for the track outputs: random frames of rectangular cells go through
// tracking (the device's search done on the host) into the export writers (-ctc masks and
// res_track.txt, -tracks' _tracks.csv and _events.csv) and the run record. Checks, on top of
// the sanitizers, that the files agree with each other: every res_track.txt track is in the
// masks of exactly the frames it spans, _tracks.csv has the same tracks, spans and single
// parents, each _events.csv row counts the labels of its frame's mask and the tracks that
// begin there, and the record parses and names the frames written.
//
// Input: width - 8 and height - 8 (modulo 41), frames - 1 (modulo 6), the small-cell area
// (modulo 20); then per frame a rectangle count (modulo 13) and 4 bytes a rectangle: x, y,
// width - 1 and height - 1 (modulo 12). A rectangle that overlaps an earlier one is left out.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compute/host_kernels.h"
#include "export/run_record.h"
#include "export/track_exports.h"
#include "model/records.h"
#include "model/workspace.h"
#include "segment/neighbourhood.h"
#include "track/tracking.h"

namespace {

using vanto::CellWord;
using vanto::cellRecord;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "export writers fuzz: %s\n", what.c_str());
    std::abort();
}

struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
};

// Cells as segmentation leaves them: labels 0 .. count - 1 in segLabels, records of their
// sizes and boxes, an end marker after them.
int32_t paintFrame(Bytes& in, vanto::FrameCells& cells, int32_t smallCellArea) {
    const int32_t w = cells.width;
    const int32_t h = cells.height;
    std::fill_n(cells.segLabels, cells.pixelCount, -1);
    int32_t count = 0;
    const int rects = in.next() % 13;
    for (int r = 0; r < rects; ++r) {
        const int32_t x0 = in.next() % w;
        const int32_t y0 = in.next() % h;
        const int32_t x1 = std::min(w - 1, x0 + in.next() % 12);
        const int32_t y1 = std::min(h - 1, y0 + in.next() % 12);
        bool free = true;
        for (int32_t y = y0; y <= y1 && free; ++y)
            for (int32_t x = x0; x <= x1 && free; ++x) free = cells.segLabels[y * w + x] < 0;
        if (!free) continue;
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) cells.segLabels[y * w + x] = count;
        int32_t* rec = cellRecord(cells.cellTable, count);
        std::fill_n(rec, vanto::kCellWords, 0);
        rec[CellWord::size] = (x1 - x0 + 1) * (y1 - y0 + 1);
        rec[CellWord::smallFlag] = rec[CellWord::size] < smallCellArea ? 1 : 0;
        rec[CellWord::relabelTo] = count;
        rec[CellWord::linkMark] = vanto::kMarkUntouched;
        rec[CellWord::minX] = x0;
        rec[CellWord::minY] = y0;
        rec[CellWord::maxX] = x1;
        rec[CellWord::maxY] = y1;
        rec[CellWord::centerX] = (x0 + x1) / 2;
        rec[CellWord::centerY] = (y0 + y1) / 2;
        ++count;
    }
    cellRecord(cells.cellTable, count)[CellWord::smallFlag] = vanto::kEndMarker;
    cells.curCount = count;
    return count;
}

std::vector<std::vector<std::string>> csvRows(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, ',')) fields.push_back(field);
        if (!line.empty() && line.back() == ',') fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

// The labels of a 16-bit mask.
std::set<int> maskLabels(const std::string& path, int32_t w, int32_t h) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) fail("a mask cannot be read back: " + path);
    std::set<int> labels;
    std::vector<uint16_t> row(static_cast<size_t>(TIFFScanlineSize(tif)) / 2 + 1);
    for (int32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, row.data(), static_cast<uint32_t>(y), 0) != 1) fail("a mask row is unreadable");
        for (int32_t x = 0; x < w; ++x)
            if (row[static_cast<size_t>(x)] != 0) labels.insert(row[static_cast<size_t>(x)]);
    }
    TIFFClose(tif);
    return labels;
}

struct CtcTrack {
    int begin, end, parent;
};

void checkAgreement(const std::string& dir, int32_t frames, int32_t w, int32_t h) {
    std::map<int, CtcTrack> ctc;
    std::ifstream lineage(dir + "/ctc/res_track.txt");
    for (CtcTrack t{}; ;) {
        int label = 0;
        if (!(lineage >> label >> t.begin >> t.end >> t.parent)) break;
        if (t.begin < 0 || t.begin > t.end || t.end >= frames) fail("a res_track.txt span outside the frames");
        if (t.parent != 0 && (!ctc.count(t.parent) || ctc[t.parent].end >= t.begin))
            fail("a res_track.txt parent that is not an earlier track");
        ctc[label] = t;
    }
    const auto tracks = csvRows(dir + "/_tracks.csv");
    if (tracks.size() != ctc.size()) fail("_tracks.csv and res_track.txt hold different tracks");
    for (size_t i = 0; i < tracks.size(); ++i) {
        const auto& row = tracks[i];
        const CtcTrack& t = ctc[static_cast<int>(i) + 1];
        if (row.size() < 5 || std::stoi(row[0]) != static_cast<int>(i) || std::stoi(row[1]) - 1 != t.begin ||
            std::stoi(row[2]) - 1 != t.end || std::stoi(row[3]) != t.end - t.begin + 1)
            fail("a _tracks.csv row disagrees with res_track.txt");
        std::istringstream parents(row[4]);
        std::vector<int> ids;
        for (int id = 0; parents >> id;) ids.push_back(id);
        if (t.parent != (ids.size() == 1 ? ids[0] + 1 : 0)) fail("a parent differs between the track tables");
    }
    const auto events = csvRows(dir + "/_events.csv");
    if (static_cast<int32_t>(events.size()) != frames) fail("_events.csv has not one row a frame");
    for (int32_t k = 0; k < frames; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/ctc/mask%03d.tif", k);
        const std::set<int> labels = maskLabels(dir + name, w, h);
        int begun = 0;
        for (const auto& [label, t] : ctc) {
            if ((t.begin <= k && k <= t.end) != (labels.count(label) == 1))
                fail("mask " + std::to_string(k) + " and res_track.txt disagree on track " + std::to_string(label));
            begun += t.begin == k;
        }
        const auto& row = events[static_cast<size_t>(k)];
        if (row.size() < 8 || std::stoi(row[0]) != k + 1 || std::stoi(row[1]) != static_cast<int>(labels.size()) ||
            std::stoi(row[3]) != begun || std::stoi(row[3]) + std::stoi(row[7]) != std::stoi(row[1]))
            fail("_events.csv row " + std::to_string(k + 1) + " disagrees with the mask and the tracks");
    }
    const auto record = nlohmann::json::parse(std::ifstream(dir + "/_run.json"), nullptr, false);
    if (record.is_discarded() || record["frames_analysed"] != frames || record["ending"] != "finished")
        fail("the run record does not name the frames written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    const int32_t w = 8 + in.next() % 41;
    const int32_t h = 8 + in.next() % 41;
    const int32_t frames = 1 + in.next() % 6;
    const int32_t smallCellArea = in.next() % 20;

    char folder[] = "/tmp/vanto-fuzz-exports-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    const std::string dir = folder;
    vanto::RunConfig config;
    config.frameWidth = w;
    config.frameHeight = h;
    config.outputDir = dir;
    config.ctcDir = dir + "/ctc";
    config.writeTracks = true;
    config.smallCellArea = smallCellArea;
    std::filesystem::create_directory(config.ctcDir);

    auto ws = std::make_unique<vanto::Workspace>();
    if (!ws->reserve(w, h)) std::abort();
    vanto::TrackScratch& s = ws->scratch;
    vanto::buildNeighbourhoodTables(ws->tables, s.scratchInts, s.scratchInts + vanto::kWindowOffsets, s.sortStack,
                                    s.sortStackRanges);
    ws->history.nextCellId = 0;

    vanto::RunRecord record;
    std::ostringstream warnings;
    vanto::TrackExports exports;
    if (!exports.open(config, vanto::Calibration{}, frames, record, warnings).ok()) fail("the exports cannot be opened");
    int32_t written = 0;
    for (int32_t j = 1; j <= frames; ++j) {
        paintFrame(in, ws->cells, smallCellArea);
        if (j > 1) {
            const vanto::CrossFrameNearest nearest = ws->scratch.crossFrameNearest();
            vanto::addTwoHost(ws->history.prevFrameLabels, ws->cells.segLabels, ws->tables, w, h, nearest.curNearPrev,
                              nearest.prevNearCur);
        }
        if (vanto::trackFrame(ws->cells, ws->history, ws->scratch, ws->tables, j, smallCellArea) !=
            vanto::TrackStatus::ok)
            break;
        if (!exports.frame(ws->cells, ws->history, j).ok()) fail("a frame's exports failed");
        if (exports.maskDue() && !exports.writeMask(ws->cells, j).ok()) fail("a frame's mask failed");
        exports.tellWarning();
        exports.commitFrame();
        record.setFramesAnalysed(j);
        written = j;
        ws->exchangeFrames();
    }
    if (!exports.finish(written < frames).empty()) fail("finishing the exports failed");
    record.finish(vanto::RunEnding::finished, 0);
    if (!record.write(dir + "/_run.json").ok()) fail("the record cannot be written");
    if (written == frames) checkAgreement(dir, frames, w, h);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
