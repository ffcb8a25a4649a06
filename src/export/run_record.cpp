#include "export/run_record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "io/output_check.h"

namespace vanto {

namespace {

// UTC, ISO 8601 with milliseconds.
std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(ms));
    return text;
}

}  // namespace

std::string frameFileName(const FrameFileRange& range, int32_t n) {
    std::string number = std::to_string(n < 0 ? -int64_t{n} : int64_t{n});
    if (number.size() < static_cast<size_t>(std::clamp(range.digits, 0, 32)))
        number.insert(0, static_cast<size_t>(range.digits) - number.size(), '0');
    return range.prefix + (n < 0 ? "-" : "") + number + range.suffix;
}

const char* runEndingName(RunEnding ending) {
    switch (ending) {
        case RunEnding::running: return "running";
        case RunEnding::finished: return "finished";
        case RunEnding::cellLimit: return "cell limit";
        case RunEnding::linkLimit: return "link limit";
        case RunEnding::interrupted: return "interrupted";
        case RunEnding::failed: return "failed";
        case RunEnding::refused: return "refused";
    }
    return "";
}

void RunRecord::start(const std::string& version, int argc, char** argv, nlohmann::ordered_json options) {
    version_ = version;
    commandLine_.assign(argv, argv + std::max(argc, 0));
    options_ = std::move(options);
    startTime_ = utcNow();
}

void RunRecord::addUnreadableFrame(int32_t frame, const std::string& why) {
    unreadableFrames_.emplace_back(frame, why);
}

void RunRecord::finish(RunEnding ending, int exitStatus) {
    if (ending_ != RunEnding::interrupted) ending_ = ending;
    exitStatus_ = exitStatus;
    endTime_ = utcNow();
}

std::string RunRecord::json() const {
    nlohmann::ordered_json j;
    j["program"] = "vanto";
    j["version"] = version_;
    j["command_line"] = commandLine_;
    j["options"] = options_;
    j["mapping"] = mapping_;
    j["input_kind"] = inputKind_;
    if (window_.size() == 4)
        j["window"] = {{"x", window_[0]}, {"y", window_[1]}, {"width", window_[2]}, {"height", window_[3]}};
    j["threads"] = threads_;
    if (!threadsLowered_.empty()) j["threads_lowered"] = threadsLowered_;
    // The pixel size and frame interval the tables use, and where each came from (null: unknown).
    const auto known = [](double v) { return v > 0 ? nlohmann::ordered_json(v) : nlohmann::ordered_json(); };
    const auto from = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s); };
    j["units"] = {{"pixel_size_um", known(units_.pixelSize)},
                  {"pixel_size_from", from(units_.pixelSizeFrom)},
                  {"frame_interval_min", known(units_.frameInterval)},
                  {"frame_interval_from", from(units_.frameIntervalFrom)}};
    j["start_time"] = startTime_;
    j["end_time"] = endTime_.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(endTime_);
    j["frames_analysed"] = framesAnalysed_;
    nlohmann::ordered_json unreadable = nlohmann::ordered_json::array();
    for (const auto& [frame, why] : unreadableFrames_) unreadable.push_back({{"frame", frame}, {"reason", why}});
    j["unreadable_frames"] = unreadable;
    nlohmann::ordered_json nans = nlohmann::ordered_json::array();
    for (const auto& [frame, samples] : nanSamples_) nans.push_back({{"frame", frame}, {"samples", samples}});
    j["nan_samples"] = nans;
    j["ending"] = runEndingName(ending_);
    j["exit_status"] = exitStatus_ < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(exitStatus_);
    j["errors"] = errors_;
    j["files"] = files_;
    nlohmann::ordered_json ranges = nlohmann::ordered_json::array();
    for (const FrameFileRange& r : frameFiles_) {
        if (r.last < r.first) continue;
        ranges.push_back({{"prefix", r.prefix}, {"digits", r.digits}, {"suffix", r.suffix}, {"first", r.first},
                          {"last", r.last}});
    }
    j["frame_files"] = ranges;
    if (!earlierFiles_.empty()) j["earlier_files"] = earlierFiles_;
    // Invalid UTF-8 in paths or words is replaced rather than refused.
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

Status RunRecord::write(const std::string& path) const {
    const std::string temporary = path + ".tmp";
    const std::string text = json();
    lastBytes_ = text.size();
    if (Status written = writeWholeFile(temporary, text.data(), text.size()); !written.ok()) return written;
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (!ec) return {};
    const std::string why = "cannot rename \"" + temporary + "\" to \"" + path + "\": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return Status::outputFailure(why);
}

}  // namespace vanto
