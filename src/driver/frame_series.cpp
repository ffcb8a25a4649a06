#include "driver/frame_series.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <utility>

#include "driver/command_line.h"
#include "driver/run_limits.h"
#include "export/object_table.h"
#include "image/file_units.h"

namespace vanto {

namespace {

constexpr size_t kPathBytes = 512;

std::string number(double v) {
    std::ostringstream s;
    s.precision(7);
    s << v;
    return s.str();
}

std::string describe(const FrameFacts& f) {
    std::string text = std::to_string(f.bits) + "-bit " + (f.floating ? "floating-point " : "unsigned ") + f.colour +
                       " samples, " + std::to_string(f.samplesPerPixel) + " per pixel, " + std::to_string(f.width) +
                       " x " + std::to_string(f.height);
    return text;
}

// The -range a user could start from: frame 1's 0.1 and 99.9 percentiles, whole numbers for
// integer samples; empty when they would not make a range the run takes.
std::string suggestion(const FrameFacts& f, const SampleStats& s) {
    double low = s.low;
    double high = s.high;
    if (!f.floating) {
        low = std::floor(low);
        high = std::ceil(high);
    }
    if (!(high > low)) high = f.floating ? std::nextafter(low + std::fabs(low) * 1e-6, HUGE_VAL) : low + 1;
    if (!std::isfinite(low) || !std::isfinite(high) || !rangeSpanProblem(low, high).empty()) return {};
    return "-range " + number(low) + " " + number(high);
}

}  // namespace

SeriesPlan FrameSeries::resolve(const RunConfig& config) {
    source_ = config.sourcePattern;
    first_ = config.firstFrame;
    originX_ = config.originX;
    originY_ = config.originY;
    width_ = config.frameWidth;
    height_ = config.frameHeight;
    // NaN samples take the background's side: the brightest gray of what is segmented.
    mapping_ = makeGrayMapping(config.hasRange, config.rangeLow, config.rangeHigh, config.invert ? 0 : 255);
    stack_ = !isFramePattern(source_) && isTiffFile(source_.c_str());
    measured_ = config.writeObjects;
    measureChannels_ = config.measureChannels;
    measureSource_ = config.measureSource;
    measureStack_ = !measureSource_.empty() && !isFramePattern(measureSource_) && isTiffFile(measureSource_.c_str());
    // A count below 1 analyses no frame.
    plan_ = {std::max(config.frameCount, 0), stack_, {}};
    plan_.refusal = stack_ ? resolveStack(config) : config.channel > 0 ? "-channel applies to a multi-page TIFF stack only" : "";
    if (plan_.refusal.empty() && !stack_) plan_.refusal = resolveFiles(config);
    if (!plan_.refusal.empty()) return plan_;
    if (plan_.frameCount > 0) failed_.reserve(static_cast<size_t>(plan_.frameCount));
    return plan_;
}

std::string FrameSeries::resolveStack(const RunConfig& config) {
    StackLayout layout;
    if (std::string why = describeTiffStack(source_.c_str(), layout); !why.empty())
        return "cannot read the stack " + source_ + ": " + why;
    if (layout.slices > 1)
        return source_ + " holds " + std::to_string(layout.slices) +
               " z-slices per time point; choose one plane per time point before the analysis";
    channels_ = layout.channels;
    if (channels_ > 1 && config.channel == 0)
        return source_ + " holds " + std::to_string(channels_) + " channels: give -channel 1 to " +
               std::to_string(channels_);
    if (config.channel > channels_)
        return "-channel " + std::to_string(config.channel) + ": " + source_ + " holds " + std::to_string(channels_) +
               (channels_ == 1 ? " channel" : " channels");
    channel_ = config.channel > 0 ? config.channel : 1;
    if (first_ < 1) return "-first counts the pages of a stack from 1";
    const int32_t timePoints = layout.pages / channels_;
    const int32_t available = timePoints >= first_ ? timePoints - first_ + 1 : 0;
    const std::string pages = channels_ > 1 ? " time points" : " pages";
    // A stack whose chain of pages breaks off is read only as far as the run asks for pages
    // before the break, never silently shortened.
    if (!layout.chainBreak.empty() && (!config.hasCount || plan_.frameCount > available))
        return "the stack " + source_ + " breaks off after page " + std::to_string(layout.pages) + " (" +
               layout.chainBreak + ")" +
               (available > 0 ? ": give -count " + std::to_string(available) + " to analyse the " +
                                    std::to_string(available) + pages + " before the break"
                              : "");
    if (first_ > timePoints)
        return "-first " + std::to_string(first_) + ": " + source_ + " holds " + std::to_string(timePoints) + pages;
    if (!config.hasCount) plan_.frameCount = available;
    if (plan_.frameCount > available)
        return "-count " + std::to_string(plan_.frameCount) + ": " + source_ + " holds " + std::to_string(timePoints) +
               pages + (first_ > 1 ? " (" + std::to_string(available) + " from " + std::to_string(first_) + " on)" : "");
    return {};
}

std::string FrameSeries::resolveFiles(const RunConfig& config) {
    // A pattern that cannot be formatted safely is refused by the run's checks.
    if (!isFramePattern(source_) || shortestFormattedLength(source_, kPathBytes) >= int64_t{kPathBytes}) return {};
    if (config.hasCount && config.frameCount < 1) return {};
    if (!exists(1)) return missingFirstFrame();
    const int32_t bound = INT32_MAX - std::max(first_, 1) + 1;
    if (!config.hasCount) {
        plan_.frameCount = lastConsecutive(bound);
        return {};
    }
    if (plan_.frameCount > bound || exists(plan_.frameCount)) return {};
    const int32_t last = lastConsecutive(plan_.frameCount);
    return "-count " + std::to_string(plan_.frameCount) + ": frame " + std::to_string(plan_.frameCount) + " (" +
           path(plan_.frameCount) + ") does not exist; the frames of \"" + source_ + "\" run from frame 1 (" +
           path(1) + ") to frame " + std::to_string(last) + " (" + path(last) + "): give -count " +
           std::to_string(last) + " or leave -count out";
}

bool FrameSeries::exists(int32_t j) const {
    struct stat facts {};
    return ::stat(path(j).c_str(), &facts) == 0;
}

int32_t FrameSeries::lastConsecutive(int32_t bound) const {
    int32_t last = 1;
    while (last < bound && exists(last + 1)) ++last;
    return last;
}

std::string FrameSeries::missingFirstFrame() const {
    namespace fs = std::filesystem;
    std::string why = "no frame 1: \"" + path(1) + "\" does not exist (-source \"" + source_ + "\", -first " +
                      std::to_string(first_) + ")";
    if (first_ != 0) {
        char zero[kPathBytes];
        std::snprintf(zero, sizeof zero, source_.c_str(), 0);
        if (fs::exists(zero)) return why + "; \"" + zero + "\" exists: give -first 0";
    }
    const fs::path wanted = path(1);
    const fs::path folder = wanted.has_parent_path() ? wanted.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return why + "; the folder \"" + folder.string() + "\" does not exist";
    // The files whose names share the longest beginning with frame 1's name.
    const std::string name = wanted.filename().string();
    std::vector<std::pair<size_t, std::string>> near;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string other = it->path().filename().string();
        const size_t shared = std::mismatch(name.begin(), name.end(), other.begin(), other.end()).first - name.begin();
        near.emplace_back(shared, other);
        if (near.size() > 100000) break;
    }
    if (near.empty()) return why + "; the folder \"" + folder.string() + "\" is empty";
    std::sort(near.begin(), near.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    why += "; nearest files there:";
    for (size_t i = 0; i < near.size() && i < 3; ++i) why += std::string(i ? ", " : " ") + near[i].second;
    return why;
}

std::string FrameSeries::checkFirstFrame(const RunConfig& config) {
    std::vector<uint8_t> gray(static_cast<size_t>(config.frameWidth) * config.frameHeight);
    FrameReader reader;
    firstGray_.clear();
    rangeWarning_.clear();
    const Status r = load(reader, 1, gray.data());
    if (r.code == StatusCode::ok) {
        firstGray_ = std::move(gray);
        firstNans_ = reader.nanSamples();
        if (config.hasRange) rangeWarning_ = clippingWarning(reader, config);
    }
    if (r.code == StatusCode::ok || r.code == StatusCode::undecodable) return {};
    const std::string head = "cannot analyse frame 1 (" + label(1) + "): ";
    const FrameFacts& f = reader.facts();
    if (r.code == StatusCode::windowOutside)
        return head + r.detail + "; choose -x, -y, -w and -h inside it";
    SampleStats stats;
    if (reader.statsOfLastWindow(stats)) {
        const std::string suggested = suggestion(f, stats);
        const std::string others =
            stats.nonFinite ? " (" + std::to_string(stats.nonFinite) + " samples NaN or infinite)" : "";
        return head + "it holds " + describe(f) + ", minimum " + number(stats.min) + ", maximum " +
               number(stats.max) + others + "; give " +
               (suggested.empty() ? "-range LO HI" : suggested + " (its 0.1 and 99.9 percentiles) or another -range");
    }
    if (reader.decodedLastWindow())
        return head + "it holds " + describe(f) +
               ", none of them finite (NaN or infinite only); give -range LO HI in the units of the other frames";
    return head + r.detail + " (it holds " + describe(f) + ")";
}

std::string FrameSeries::clippingWarning(const FrameReader& reader, const RunConfig& config) const {
    const RangeClipping c = reader.clippingOfLastWindow(config.rangeLow, config.rangeHigh);
    SampleStats stats;
    if (c.samples == 0 || !reader.statsOfLastWindow(stats)) return {};
    const bool low = c.atOrBelow * 100 > c.samples * 99;
    const bool high = c.atOrAbove * 100 > c.samples * 99;
    if (!low && !high) return {};
    const size_t clipped = low ? c.atOrBelow : c.atOrAbove;
    const double share = std::floor(1000.0 * static_cast<double>(clipped) / static_cast<double>(c.samples)) / 10;
    std::string why = "-range " + number(config.rangeLow) + " " + number(config.rangeHigh) + ": " + number(share) +
                      " % of frame 1's samples lie at or " + (low ? "below " + number(config.rangeLow) + " (gray 0)"
                                                                  : "above " + number(config.rangeHigh) + " (gray 255)") +
                      "; its 0.1, 50 and 99.9 percentiles are " + number(stats.low) + ", " + number(stats.median) +
                      ", " + number(stats.high) + " (minimum " + number(stats.min) + ", maximum " + number(stats.max) + ")";
    if (const std::string suggested = suggestion(reader.facts(), stats); !suggested.empty())
        why += ": try " + suggested;
    return why;
}

bool FrameSeries::firstImageDimensions(uint32_t& width, uint32_t& height) const {
    if (!stack_ && (!isFramePattern(source_) || shortestFormattedLength(source_, kPathBytes) >= int64_t{kPathBytes}))
        return false;
    FrameReader reader;
    uint8_t pixel = 0;
    const int64_t page = stack_ ? static_cast<int64_t>(first_ - 1) * channels_ + channel_ - 1 : 0;
    if (page > INT32_MAX) return false;
    (void)reader.load(path(1).c_str(), static_cast<int32_t>(page), 0, 0, 1, 1, mapping_, &pixel);
    width = reader.facts().width;
    height = reader.facts().height;
    return width > 0 && height > 0;
}

std::string FrameSeries::firstImageSize() const {
    uint32_t width = 0;
    uint32_t height = 0;
    if (!firstImageDimensions(width, height)) return {};
    return " (frame 1 is " + std::to_string(width) + " x " + std::to_string(height) + ")";
}

void FrameSeries::settleWindow(RunConfig& config) {
    if (config.hasWidth && config.hasHeight) return;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!firstImageDimensions(width, height)) return;
    // To the image's edge; an origin outside the image leaves an empty window, refused.
    const auto toEdge = [](uint32_t size, int32_t origin) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{size} - std::max(origin, 0), 0, INT32_MAX));
    };
    if (!config.hasWidth) config.frameWidth = toEdge(width, config.originX);
    if (!config.hasHeight) config.frameHeight = toEdge(height, config.originY);
    width_ = config.frameWidth;
    height_ = config.frameHeight;
}

std::string FrameSeries::path(int32_t j) const {
    if (stack_) return source_;
    char buffer[kPathBytes];
    std::snprintf(buffer, sizeof buffer, source_.c_str(), first_ + (j - 1));
    return buffer;
}

std::string FrameSeries::label(int32_t j) const {
    if (!stack_) return path(j);
    const int64_t page = (static_cast<int64_t>(first_) + j - 2) * channels_ + channel_;
    return source_ + " [page " + std::to_string(page) + "]";
}

Status FrameSeries::load(FrameReader& reader, int32_t j, uint8_t* gray, size_t* nanSamples) const {
    if (nanSamples) *nanSamples = 0;
    if (j == 1 && !firstGray_.empty()) {
        std::copy(firstGray_.begin(), firstGray_.end(), gray);
        if (nanSamples) *nanSamples = firstNans_;
        return {};
    }
    const int64_t page = stack_ ? (static_cast<int64_t>(first_) + j - 2) * channels_ + channel_ - 1 : 0;
    if (page > INT32_MAX) return {StatusCode::undecodable, "no such page"};
    const Status loaded = reader.load(path(j).c_str(), static_cast<int32_t>(page), originX_, originY_, width_,
                                      height_, mapping_, gray);
    if (nanSamples && loaded.ok()) *nanSamples = reader.nanSamples();
    return loaded;
}

Calibration FrameSeries::calibration(const RunConfig& config) const {
    Calibration units;
    if (config.pixelSize > 0) {
        units.pixelSize = config.pixelSize;
        units.pixelSizeFrom = "-pixel-size";
    }
    if (config.frameInterval > 0) {
        units.frameInterval = config.frameInterval;
        units.frameIntervalFrom = "-frame-interval";
    }
    if ((units.hasPixelSize() && units.hasFrameInterval()) || plan_.frameCount < 1) return units;
    const FileUnits stated = readFileUnits(path(1).c_str());
    if (!units.hasPixelSize() && stated.pixelSize > 0) {
        units.pixelSize = stated.pixelSize;
        units.pixelSizeFrom = stated.pixelSizeFrom;
    }
    if (!units.hasFrameInterval() && stated.frameInterval > 0) {
        units.frameInterval = stated.frameInterval;
        units.frameIntervalFrom = stated.frameIntervalFrom;
    }
    return units;
}

std::string FrameSeries::measurePath(int32_t j) const {
    if (measureStack_) return measureSource_;
    char buffer[kPathBytes];
    std::snprintf(buffer, sizeof buffer, measureSource_.c_str(), first_ + (j - 1));
    return buffer;
}

std::string FrameSeries::measureRefusal(const RunConfig& config) const {
    if (!config.writeObjects) {
        if (!config.measureChannels.empty()) return "-measure-channel adds columns to the -objects table: give -objects";
        if (!config.measureSource.empty()) return "-measure-source adds columns to the -objects table: give -objects";
        return {};
    }
    if (measureChannels_.size() + 2 > static_cast<size_t>(kMaxMeasuredPlanes))
        return "-measure-channel is given more than " + std::to_string(kMaxMeasuredPlanes - 2) + " times";
    for (size_t i = 0; i < measureChannels_.size(); ++i) {
        const int32_t c = measureChannels_[i];
        if (!stack_) return "-measure-channel applies to a multi-channel TIFF stack only";
        if (std::find(measureChannels_.begin(), measureChannels_.begin() + static_cast<std::ptrdiff_t>(i), c) !=
            measureChannels_.begin() + static_cast<std::ptrdiff_t>(i))
            return "-measure-channel " + std::to_string(c) + " is given twice";
        if (c < 1 || c > channels_)
            return "-measure-channel " + std::to_string(c) + ": " + source_ + " holds " + std::to_string(channels_) +
                   (channels_ == 1 ? " channel" : " channels");
    }
    if (measureSource_.empty()) return {};
    if (measureStack_) {
        StackLayout layout;
        if (std::string why = describeTiffStack(measureSource_.c_str(), layout); !why.empty())
            return "cannot read the -measure-source stack " + measureSource_ + ": " + why;
        if (layout.pages < first_ || layout.pages - first_ + 1 < plan_.frameCount)
            return "-measure-source " + measureSource_ + " holds " + std::to_string(layout.pages) +
                   " pages, fewer than the frames of the run";
    } else if (!isFramePattern(measureSource_) ||
               shortestFormattedLength(measureSource_, kPathBytes) >= int64_t{kPathBytes}) {
        return "-measure-source \"" + measureSource_ +
               "\" must hold exactly one integer conversion such as %04d, or name one TIFF stack";
    }
    if (plan_.frameCount < 1) return {};
    std::vector<float> values(static_cast<size_t>(std::max(width_, 0)) * std::max(height_, 0));
    FrameReader reader;
    const Status r = reader.loadValues(measurePath(1).c_str(), measureStack_ ? first_ - 1 : 0, originX_, originY_,
                                       width_, height_, values.data());
    if (r.code != StatusCode::ok)
        return "cannot measure frame 1 of -measure-source (" + measurePath(1) + "): " + r.detail;
    return {};
}

Status FrameSeries::load(FrameReader& reader, int32_t j, uint8_t* gray, MeasurePlanes& planes,
                         size_t* nanSamples) const {
    if (planes.count() == 0) return load(reader, j, gray, nanSamples);
    if (nanSamples) *nanSamples = 0;
    for (int32_t k = 0; k < planes.count(); ++k) planes.setLoaded(k, false);
    const int64_t page = stack_ ? (static_cast<int64_t>(first_) + j - 2) * channels_ + channel_ - 1 : 0;
    if (page > INT32_MAX) return {StatusCode::undecodable, "no such page"};
    const Status loaded = reader.load(path(j).c_str(), static_cast<int32_t>(page), originX_, originY_, width_,
                                      height_, mapping_, gray, planes.plane(0));
    if (loaded.code != StatusCode::ok) return loaded;
    if (nanSamples) *nanSamples = reader.nanSamples();
    planes.setLoaded(0, true);
    int32_t k = 1;
    for (const int32_t c : measureChannels_) {
        const int64_t channelPage = page - channel_ + c;
        planes.setLoaded(k, reader.loadValues(path(j).c_str(), static_cast<int32_t>(channelPage), originX_, originY_,
                                              width_, height_, planes.plane(k))
                                    .code == StatusCode::ok);
        ++k;
    }
    if (!measureSource_.empty()) {
        const int64_t sourcePage = measureStack_ ? int64_t{first_} + j - 2 : 0;
        planes.setLoaded(k, sourcePage <= INT32_MAX &&
                                reader.loadValues(measurePath(j).c_str(), static_cast<int32_t>(sourcePage), originX_,
                                                  originY_, width_, height_, planes.plane(k))
                                        .code == StatusCode::ok);
    }
    return loaded;
}

void FrameSeries::noteFailure(int32_t j, const Status& load, std::ostream& errors) {
    failed_.push_back(j);
    errors << "vanto: frame " << j << " (" << label(j) << ") could not be read: " << load.detail << '\n'
           << std::flush;
}

void FrameSeries::summarise(int32_t framesRead, std::ostream& errors) const {
    if (failed_.empty()) return;
    errors << "vanto: " << failed_.size() << " of " << framesRead << " frames could not be read: ";
    for (size_t i = 0; i < failed_.size();) {
        size_t end = i;
        while (end + 1 < failed_.size() && failed_[end + 1] == failed_[end] + 1) ++end;
        errors << (i ? ", " : "") << failed_[i];
        if (end > i) errors << '-' << failed_[end];
        i = end + 1;
    }
    errors << '\n' << std::flush;
}

}  // namespace vanto
