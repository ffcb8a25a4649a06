#include "export/object_table.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "io/output_check.h"
#include "measure/cell_report.h"
#include "measure/motion_measures.h"
#include "measure/track_steps.h"
#include "model/records.h"

namespace vanto {

namespace {

constexpr const char* kIntensityColumns[] = {
    "mean_intensity", "median_intensity", "min_intensity",        "max_intensity",
    "std_intensity",  "integrated_intensity", "background_intensity", "corrected_integrated_intensity",
};

}  // namespace

bool ObjectTable::reserve(int32_t width, int32_t height, std::vector<std::string> planePrefixes) {
    width_ = width;
    height_ = height;
    prefixes_ = std::move(planePrefixes);
    if (prefixes_.size() > static_cast<size_t>(kMaxMeasuredPlanes)) prefixes_.resize(kMaxMeasuredPlanes);
    try {
        idOfCell_.reserve(kTableRecords);
        stepOf_.assign(kTableRecords, nullptr);
        parents_.reserve(kLinkLimit);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return intensities_.reserve(width, height, static_cast<int32_t>(prefixes_.size()));
}

int64_t ObjectTable::bytesFor(int32_t width, int32_t height, int32_t planes) {
    const int64_t pixels = int64_t{std::max(width, 0)} * std::max(height, 0);
    return 6 * 4 * pixels + int64_t{kTableRecords} * (planes * int64_t{sizeof(IntensityStats)} + 16) +
           int64_t{kLinkLimit} * 8;
}

Status ObjectTable::open(const std::string& path, const Calibration& units) {
    units_ = units;
    if (Status opened = openChecked(out_, path); !opened.ok()) return opened;
    writeHeader();
    out_.markWhole();
    return out_.fault().status();
}

void ObjectTable::writeHeader() {
    const bool um = units_.hasPixelSize();
    const bool min = units_.hasFrameInterval();
    line_.clear();
    line_.field("frame");
    if (min) line_.field("time_min");
    for (const char* name : {"cell", "track", "parent_tracks", "small", "edge", "x_px", "y_px"}) line_.field(name);
    if (um) {
        line_.field("x_um");
        line_.field("y_um");
    }
    line_.field("area_px");
    if (um) line_.field("area_um2");
    line_.field("perimeter_px");
    if (um) line_.field("perimeter_um");
    for (const char* name : {"circularity", "width_min_px", "width_max_px"}) line_.field(name);
    if (um) {
        line_.field("width_min_um");
        line_.field("width_max_um");
    }
    for (const char* name : {"width_min_angle_deg", "width_max_angle_deg", "aspect", "voronoi_area_px"})
        line_.field(name);
    if (um) line_.field("voronoi_area_um2");
    line_.field("life_frames");
    line_.field("step_px");
    if (um) line_.field("step_um");
    line_.field("speed_px_per_frame");
    if (min) line_.field("speed_px_per_min");
    if (um && min) line_.field("speed_um_per_min");
    line_.field("direction_deg");
    for (const std::string& prefix : prefixes_) {
        for (const char* name : kIntensityColumns) line_.field((prefix + name).c_str());
    }
    line_.writeTo(out_);
}

void ObjectTable::collectLinks(const FrameCells& cells, const FrameHistory& history, int32_t frame) {
    const int32_t n = cells.finalCount;
    idOfCell_.clear();
    for (int32_t i = 0; i < n; ++i) idOfCell_.emplace_back(cellRecord(cells.cellTable, i)[CellWord::cellId], i);
    std::sort(idOfCell_.begin(), idOfCell_.end());
    std::fill_n(stepOf_.begin(), n, nullptr);
    parents_.clear();
    const int32_t* slot = history.slotAt(slotBack(frame, 0));
    // The cell report's last step: the last entry of the frame's slot that carries the identity.
    forEachSlotEntry(slot, [&](const int32_t* e) {
        if (!carriesIdentity(e)) return;
        const auto it = std::lower_bound(idOfCell_.begin(), idOfCell_.end(),
                                         std::pair<int32_t, int32_t>{e[LinkWord::carriedId], INT32_MIN});
        if (it != idOfCell_.end() && it->first == e[LinkWord::carriedId]) stepOf_[static_cast<size_t>(it->second)] = e;
    });
    // Parents of the cells with a fresh identity, as the track table has them.
    if (frame > 1) {
        for (int32_t k = 0; k < cells.linkCount; ++k) {
            const int32_t* e = linkEntry(slot, k);
            if (e[LinkWord::linkState] != kLinkAccepted) continue;
            const int32_t c = e[LinkWord::curIndex];
            if (c < 0 || c >= n || cellRecord(cells.cellTable, c)[CellWord::cellId] < idsBefore_) continue;
            parents_.emplace_back(c, cellRecord(history.prevCellTable, e[LinkWord::prevIndex])[CellWord::cellId]);
        }
    }
    std::sort(parents_.begin(), parents_.end());
    parents_.erase(std::unique(parents_.begin(), parents_.end()), parents_.end());
}

void ObjectTable::intensityFields(int32_t plane, int32_t cell, bool measured) {
    const IntensityStats& s = intensities_.of(plane, cell);
    if (!measured || s.count == 0) {
        for (size_t k = 0; k < std::size(kIntensityColumns); ++k) line_.empty();
        return;
    }
    line_.field(s.mean, 4);
    line_.exact(s.median);
    line_.exact(s.min);
    line_.exact(s.max);
    line_.field(s.deviation, 4);
    line_.exact(s.integrated);
    if (s.ringCount > 0) {
        line_.exact(s.background);
        line_.exact(s.integrated - static_cast<double>(s.count) * s.background);
    } else {
        line_.empty();
        line_.empty();
    }
}

Status ObjectTable::writeFrame(const FrameCells& cells, const FrameHistory& history, const MeasurePlanes& planes,
                               int32_t frame) {
    const int32_t planeCount = std::min<int32_t>(static_cast<int32_t>(prefixes_.size()), planes.count());
    for (int32_t k = 0; k < planeCount; ++k) {
        planeValues_[k] = planes.plane(k);
        planeMeasured_[k] = planes.loaded(k);
    }
    intensities_.measure(cells, planeValues_, planeMeasured_, planeCount);
    collectLinks(cells, history, frame);
    idsPending_ = history.nextCellId;

    const double px = units_.pixelSize;
    const double minutes = units_.frameInterval;
    const bool um = units_.hasPixelSize();
    const bool min = units_.hasFrameInterval();
    auto parent = parents_.begin();
    for (int32_t i = 0; i < cells.finalCount; ++i) {
        const int32_t* r = cellRecord(cells.cellTable, i);
        line_.clear();
        line_.field(int64_t{frame});
        if (min) line_.field((frame - 1) * minutes, 4);
        line_.field(int64_t{i});
        line_.field(int64_t{r[CellWord::cellId]});
        bool first = true;
        for (; parent != parents_.end() && parent->first == i; ++parent) {
            line_.listItem(parent->second, first);
            first = false;
        }
        if (first) line_.empty();
        line_.field(int64_t{r[CellWord::smallFlag] != 0});
        const bool edge = r[CellWord::minX] <= 0 || r[CellWord::minY] <= 0 || r[CellWord::maxX] >= width_ - 1 ||
                          r[CellWord::maxY] >= height_ - 1;
        line_.field(int64_t{edge});
        line_.field(int64_t{r[CellWord::centerX]});
        line_.field(int64_t{r[CellWord::centerY]});
        if (um) {
            line_.field(r[CellWord::centerX] * px, 4);
            line_.field(r[CellWord::centerY] * px, 4);
        }
        line_.field(int64_t{r[CellWord::size]});
        if (um) line_.field(r[CellWord::size] * px * px, 4);
        line_.field(int64_t{r[CellWord::circumference]});
        if (um) line_.field(r[CellWord::circumference] * px, 4);
        line_.field(circularity(r), 6);
        line_.hundredths(r[CellWord::minWidth]);
        line_.hundredths(r[CellWord::maxWidth]);
        if (um) {
            line_.field(r[CellWord::minWidth] / 100.0 * px, 4);
            line_.field(r[CellWord::maxWidth] / 100.0 * px, 4);
        }
        line_.field(int64_t{r[CellWord::minWidthAngle]});
        line_.field(int64_t{r[CellWord::maxWidthAngle]});
        if (r[CellWord::minWidth] > 0) {
            line_.field(static_cast<double>(r[CellWord::maxWidth]) / r[CellWord::minWidth], 6);
        } else {
            line_.empty();
        }
        line_.field(int64_t{r[CellWord::voronoiArea]});
        if (um) line_.field(r[CellWord::voronoiArea] * px * px, 4);
        line_.field(int64_t{r[CellWord::life]});
        if (const int32_t* e = stepOf_[static_cast<size_t>(i)]) {
            const int32_t x0 = e[LinkWord::prevX], y0 = e[LinkWord::prevY];
            const int32_t x1 = e[LinkWord::curX], y1 = e[LinkWord::curY];
            const double step = std::sqrt(static_cast<double>(squaredDistance(x0, y0, x1, y1)));
            line_.field(step, 4);
            if (um) line_.field(step * px, 4);
            line_.field(step, 4);
            if (min) line_.field(step / minutes, 4);
            if (um && min) line_.field(step * px / minutes, 4);
            line_.field(stepAngle(x0, y0, x1, y1), 4);
        } else {
            line_.empty();
            if (um) line_.empty();
            line_.empty();
            if (min) line_.empty();
            if (um && min) line_.empty();
            line_.empty();
        }
        for (int32_t k = 0; k < static_cast<int32_t>(prefixes_.size()); ++k)
            intensityFields(k, i, k < planeCount && planeMeasured_[k]);
        line_.writeTo(out_);
    }
    out_.flush();
    return out_.fault().status();
}

void ObjectTable::commitFrame() {
    idsBefore_ = idsPending_;
    out_.commitFrame();
}

void ObjectTable::rollBackFrame() {
    idsPending_ = idsBefore_;
    out_.rollBackFrame();
}

Status ObjectTable::close() {
    const bool toldAlready = out_.failed();
    out_.close();
    return toldAlready ? Status{} : out_.fault().status();
}

}  // namespace vanto
