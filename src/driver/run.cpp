#include "driver/run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "compute/compute_device.h"
#include "compute/runtime_cache.h"
#include "driver/command_line.h"
#include "driver/frame_series.h"
#include "driver/interruption.h"
#include "io/output_file.h"
#include "driver/frame_pipeline.h"
#include "driver/progress_log.h"
#include "driver/progress_meter.h"
#include "driver/option_table.h"
#include "driver/run_checks.h"
#include "driver/run_limits.h"
#include "driver/version.h"
#include "export/object_table.h"
#include "export/earlier_run.h"
#include "export/joined_track_column.h"
#include "export/run_record.h"
#include "export/track_exports.h"
#include "image/canvas.h"
#include "image/frame_loader.h"
#include "measure/frame_report.h"
#include "measure/voronoi_image.h"
#include "measure/voronoi_neighbours.h"
#include "model/clock.h"
#include "model/records.h"
#include "model/run_config.h"
#include "model/workspace.h"
#include "segment/neighbourhood.h"
#include "track/calculation_image.h"
#include "track/tracking.h"

namespace vanto {

namespace {

constexpr const char* kKernelFile = "kernel3.cl";
// A run whose first frames (this many, or all of a shorter run) hold no cell gets a hint.
constexpr int32_t kHintFrames = 3;
// A run record up to this size is rewritten after every frame.
constexpr size_t kSmallRecordBytes = 64 << 10;

// kernel3.cl in the working directory, else beside the executable; empty when neither exists.
std::string findKernelSource(const char* argv0) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_regular_file(kKernelFile, ec)) return kKernelFile;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec && argv0) exe = fs::path(argv0);
    const fs::path beside = exe.parent_path() / kKernelFile;
    if (fs::is_regular_file(beside, ec)) return beside.string();
    return {};
}

enum class Ending { finished, answered, refused, failed, interrupted };

// A bitmap of the frame, drawn on a canvas that nothing else of the frame touches and written,
// as a task of the frame (see FramePipeline). The file it begins is listed in files, an output
// of the frame transaction.
class BitmapTask final : public FrameTask {
public:
    using Draw = std::function<void(Canvas&, int32_t frame)>;
    void setUp(Canvas& canvas, Draw draw) {
        canvas_ = &canvas;
        draw_ = std::move(draw);
    }
    // Readies the task for frame `frame`, its file named by format (a folder and a frame number).
    void prepare(const char* format, const char* dir, int32_t frame) {
        frame_ = frame;
        std::snprintf(path_, sizeof path_, format, dir, frame);
    }
    Status run() override {
        draw_(*canvas_, frame_);
        files.begin(path_);
        return canvas_->writeBmp(path_);
    }
    FrameFiles files;

private:
    Canvas* canvas_ = nullptr;
    Draw draw_;
    int32_t frame_ = 0;
    char path_[kPathBufferBytes] = {};
};

// The frame's CTC mask, encoded and written as a task of the frame.
class MaskTask final : public FrameTask {
public:
    void prepare(TrackExports& exports, const FrameCells& cells, int32_t frame) {
        exports_ = &exports;
        cells_ = &cells;
        frame_ = frame;
    }
    Status run() override { return exports_->writeMask(*cells_, frame_); }

private:
    TrackExports* exports_ = nullptr;
    const FrameCells* cells_ = nullptr;
    int32_t frame_ = 0;
};

class Run {
public:
    Run(int argc, char** argv, std::ostream& console, std::ostream& errors)
        : argc_(argc), argv_(argv), console_(console), errors_(errors), progress_(console) {}

    int execute() {
        Ending ending = startUp();
        if (ending == Ending::refused && !recordStarted_) recordRefusal();
        if (ending == Ending::finished) ending = frameLoop();
        if (recordStarted_) ending = finishExports(ending);
        ending = tearDown(ending);
        // A run that finished with unreadable frames in its series says so with status 2.
        const int finished = ending == Ending::finished && !series_.failedFrames().empty() ? 2 : 0;
        const int status = ending == Ending::finished || ending == Ending::answered ? finished
                           : ending == Ending::interrupted                         ? 128 + interrupts_.pendingSignal()
                                                                                   : 1;
        return recordStarted_ ? finishRecord(ending, status) : status;
    }

private:
    // Formats into the one path buffer; false when the path would not fit.
    template <typename... Args>
    bool formatPath(const char* format, Args... args) {
        const int n = std::snprintf(pathBuffer_, sizeof pathBuffer_, format, args...);
        return n >= 0 && static_cast<size_t>(n) < sizeof pathBuffer_;
    }

    bool refuse(const std::string& why) {
        errors_ << "vanto: " << why << '\n' << std::flush;
        refusals_.push_back(why);
        return false;
    }

    // Everything that would make the run lose or corrupt results is refused before it starts:
    // the command line's errors and every refusal of the checks, one line each.
    bool checkConfig(const std::vector<std::string>& commandLineErrors) {
        RunCheck check = checkRun(config_, memoryBound(), series_, commandLineErrors,
                                  earlierPaths(config_.outputDir, earlier_));
        plan_ = check.plan;
        threads_ = check.threads;
        threadWarning_ = check.threadWarning;
        for (const std::string& why : check.refusals) errors_ << "vanto: " << why << '\n';
        errors_ << std::flush;
        refusals_.insert(refusals_.end(), check.refusals.begin(), check.refusals.end());
        return check.refusals.empty();
    }

    // A refused run whose -output is a folder leaves a record saying why. It changes nothing
    // else: the files of an earlier run stay, and the record keeps them listed.
    void recordRefusal() {
        std::error_code ec;
        if (!config_.hasOutput || refusals_.empty() || !std::filesystem::is_directory(config_.outputDir, ec)) return;
        record_.start(kVersion, argc_, argv_, recordedOptions(config_));
        for (const std::string& why : refusals_) record_.addError(why);
        record_.setFiles({"_run.json"});
        record_.setEarlierFiles(earlier_.files);
        record_.finish(RunEnding::refused, 1);
        (void)record_.write(config_.outputDir + "/_run.json");
    }

    // The run goes ahead: the files the earlier run's record lists go first, then the -ctc
    // folder is made. False when it cannot be.
    bool prepareFolders() {
        removeEarlierFiles(config_.outputDir, earlier_);
        if (earlier_.setAside > 0)
            errors_ << "vanto: warning: the earlier run record " << config_.outputDir << "/_run.json names "
                    << earlier_.setAside << " files outside " << config_.outputDir << "; they are left alone\n"
                    << std::flush;
        std::string why;
        if (!config_.ctcDir.empty() && !CtcExport::createFolder(config_.ctcDir, why)) return refuse(why);
        return true;
    }

    // Where the CTC files lie, as the record names them: relative to -output when the folder
    // is inside it, else absolute.
    std::string ctcFilePrefix() const {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path out = fs::weakly_canonical(config_.outputDir, ec);
        const fs::path ctc = fs::weakly_canonical(config_.ctcDir, ec);
        const fs::path inside = ctc.lexically_relative(out);
        if (inside.empty() || *inside.begin() == "..") return ctc.string() + "/";
        return inside == "." ? std::string() : inside.string() + "/";
    }

    // The record's lists of the files written by frame framesDone; while the run runs, the
    // frame-by-frame ranges take in the frame under way, whose files may have been begun.
    void listFiles(int32_t framesDone, bool running) {
        const int32_t last = framesDone + (running && framesDone < plan_.frameCount ? 1 : 0);
        if (frameRanges_.empty()) {  // the kinds of files are known once the run has started
            if (config_.drawCalculation) frameRanges_.push_back({"10_Calculation_", 4, ".bmp", 1, last});
            if (config_.drawVoronoi) frameRanges_.push_back({"12_Voronoi_", 4, ".bmp", 1, last});
            if (!config_.ctcDir.empty())
                frameRanges_.push_back({ctcPrefix_ + "mask", plan_.frameCount > 1000 ? 4 : 3, ".tif", 0, 0});
        }
        for (FrameFileRange& range : frameRanges_) {
            // Masks number from 0 and, at the end, only those committed count.
            range.last = range.first == 0 ? (running ? last : exports_.lastMaskFrame()) - 1 : last;
        }
        record_.setFrameFiles(frameRanges_);
        if (running) {
            record_.setFiles(files_);
            return;
        }
        // At the end only what is there: a table that failed was removed.
        std::vector<std::string> present;
        for (const std::string& name : files_) {
            const std::string path =
                name.front() == '/' || name == "_run.json" ? name : config_.outputDir + "/" + name;
            struct stat facts {};
            if (name == "_run.json" || ::lstat(path.c_str(), &facts) == 0) present.push_back(name);
        }
        record_.setFiles(std::move(present));
    }

    // Once, on standard error only: the first frames analysed hold no cell.
    void hintWhenEmpty(int32_t j, int32_t cells) {
        if (hinted_ || j > kHintFrames) return;
        if (cells > 0) {
            hinted_ = true;
            return;
        }
        if (j < std::min(kHintFrames, plan_.frameCount)) return;
        hinted_ = true;
        std::string why = "vanto: warning: no cell in " + (j == 1 ? std::string("frame 1") : "frames 1 to " + std::to_string(j));
        why += config_.invert ? ": cells are taken to be brighter than their surroundings (-invert); for dark cells "
                                "on a bright background leave out -invert"
                              : ": cells are taken to be darker than their surroundings (dark cells on a bright "
                                "background); for bright cells on a dark background (fluorescent nuclei) give -invert";
        if (config_.threshold > 0)
            why += ", and for faint cells a -threshold below " + std::to_string(config_.threshold);
        errors_ << why << '\n' << std::flush;
    }

    // The options the record lists, with the values the run uses: a stack read whole records
    // the frames it holds as its -count.
    nlohmann::ordered_json recordOptions() const {
        nlohmann::ordered_json options = recordedOptions(config_);
        options["-count"] = plan_.frameCount;
        return options;
    }

    Ending startUp() {
        const ParsedCommandLine parsed = parseCommandLine(argc_, argv_);
        config_ = parsed.config;
        if (const int status = answerCommandLine(parsed, argc_, console_, errors_); status >= 0)
            return status == 0 ? Ending::answered : Ending::refused;
        if (config_.hasOutput) earlier_ = readEarlierRun(config_.outputDir);
        if (!checkConfig(parsed.errors)) return Ending::refused;
        if (!prepareFolders()) return Ending::refused;
        formatPath("%s/_log.txt", config_.outputDir.c_str());
        if (!progress_.open(pathBuffer_)) {
            // A link planted at the log's name is named as such; anything else is the folder's fault.
            const std::string& cause = progress_.fault().cause;
            refuse(std::string("cannot create the run log \"") + pathBuffer_ + "\": " +
                   (cause == kLinkAtOutputName ? cause : "-output must name an existing, writable folder"));
            return Ending::refused;
        }
        files_ = {"_run.json", "_log.txt"};
        if (!config_.ctcDir.empty()) ctcPrefix_ = ctcFilePrefix();
        for (const std::string& warning : absentOptionWarnings(config_)) errors_ << "vanto: warning: " << warning << '\n';
        if (!threadWarning_.empty()) errors_ << "vanto: warning: " << threadWarning_ << '\n';
        progress_.setQuiet(config_.quiet);
        if (!series_.rangeWarning().empty()) errors_ << "vanto: warning: " << series_.rangeWarning() << '\n';
        progress_.line(std::string("--- Vanto version ") + kVersion + " (" + kVersionDate + ") ---");
        progress_.line("Size : " + std::to_string(config_.frameWidth) + " x " + std::to_string(config_.frameHeight) +
                       " (" + std::to_string(config_.originX) + ", " + std::to_string(config_.originY) + ")");
        progress_.line("Threshold : " + std::to_string(config_.threshold));
        if (config_.hasRange) progress_.line(mappingLine(series_.mapping()));
        if (progress_.failed()) return fail(progress_.fault().status());
        record_.start(kVersion, argc_, argv_, recordOptions());
        record_.setMapping(std::string(config_.hasRange ? mappingLine(series_.mapping()) : "8-bit gray as stored") +
                           (config_.invert ? ", inverted" : ""));
        record_.setInputKind(series_.isStack() ? "TIFF stack" : "frame files");
        units_ = series_.calibration(config_);
        record_.setUnits(units_);
        record_.setWindow(config_.originX, config_.originY, config_.frameWidth, config_.frameHeight);
        listFiles(0, true);
        if (Status written = record_.write(config_.outputDir + "/_run.json"); !written.ok()) {
            refuse(written.detail);
            return Ending::refused;
        }
        recordStarted_ = true;

        ws_ = std::make_unique<Workspace>();
        pipeline_ = std::make_unique<FramePipeline>(config_, series_, ws_->tables);
        const bool reserved = ws_->reserve(config_.frameWidth, config_.frameHeight) && reserveObjects();
        record_.setThreads(threads_);
        record_.setThreadsLowered(threadWarning_);
        if (!pipeline_->reserve(threads_) || !reserved) {
            return refusedAfterStart("cannot reserve " +
                                     std::to_string(ws_->requestedBytes() + pipeline_->requestedBytes() +
                                                    objectBytes()) +
                                     " bytes of working memory");
        }
        if (!createCanvases()) {
            return refusedAfterStart("cannot reserve " + std::to_string(canvasBytes(config_)) +
                                     " bytes for the drawing canvas");
        }
        TrackScratch& scratch = ws_->scratch;
        buildNeighbourhoodTables(ws_->tables, scratch.scratchInts, scratch.scratchInts + kWindowOffsets,
                                 scratch.sortStack, scratch.sortStackRanges);
        // Workers begin loading while the compute device is being prepared.
        if (plan_.frameCount >= 1) pipeline_->start();

        // The device is needed only when frames are analysed.
        if (plan_.frameCount >= 1) {
            const std::string kernelPath = findKernelSource(argc_ > 0 ? argv_[0] : nullptr);
            if (kernelPath.empty())
                return refusedAfterStart("kernel3.cl was found neither in the working directory nor beside the program");
            runtimeCache_.prepare();
            device_ = std::make_unique<ComputeDevice>();
            if (Status opened = device_->open(kernelPath, config_.frameWidth, config_.frameHeight, console_);
                !opened.ok())
                return refusedAfterStart(opened.detail);
        }

        const char* dir = config_.outputDir.c_str();
        formatPath("%s/_average.csv", dir);
        if (!averageReport_.open(pathBuffer_)) return fail(averageReport_.fault().status());
        writeAverageReportHeader(averageReport_);
        formatPath("%s/_cell.csv", dir);
        if (!cellReport_.open(pathBuffer_)) return fail(cellReport_.fault().status());
        writeCellReportHeader(cellReport_);
        files_.insert(files_.end(), {"_average.csv", "_cell.csv"});
        averageReport_.markWhole();
        cellReport_.markWhole();
        if (config_.writeTracks) files_.insert(files_.end(), {"_events.csv", "_tracks.csv"});
        if (!config_.ctcDir.empty()) files_.push_back(ctcPrefix_ + "res_track.txt");
        if (Status opened = exports_.open(config_, units_, plan_.frameCount, record_, errors_); !opened.ok())
            return fail(opened);
        if (config_.writeObjects) {
            files_.push_back("_objects.csv");
            if (Status opened = objects_.open(config_.outputDir + "/_objects.csv", units_); !opened.ok())
                return fail(opened);
        }
        // Every per-frame output is committed or rolled back with the others.
        transaction_.join(averageReport_);
        transaction_.join(cellReport_);
        transaction_.join(calculationTask_.files);
        transaction_.join(voronoiTask_.files);
        transaction_.join(exports_);
        if (config_.writeObjects) transaction_.join(objects_);

        progress_.line("--- Memory Prepared ---");
        progress_.line("");
        ws_->history.nextCellId = 0;
        return textOutputsFailed() ? fail(firstTextFault().status()) : Ending::finished;
    }

    // The canvas of the frame's gray pixels, on which the calculation image is drawn, and, when
    // both images are drawn, one of the Voronoi image's own: the two are drawn at the same time.
    bool createCanvases() {
        const bool bitmaps = config_.drawCalculation || config_.drawVoronoi;
        if (!canvas_.createCanvas(config_.frameWidth, config_.frameHeight, bitmaps)) return false;
        if (config_.drawCalculation && config_.drawVoronoi &&
            !voronoiCanvas_.createCanvas(config_.frameWidth, config_.frameHeight, true))
            return false;
        if (config_.drawCalculation && config_.drawIds) idsDrawn_.assign(kCellLimit, 0);
        calculationTask_.setUp(canvas_, [this](Canvas& canvas, int32_t j) {
            drawCalculationImage(canvas, ws_->cells, ws_->history, j, config_.drawIds, idsDrawn_.data());
        });
        voronoiTask_.setUp(config_.drawCalculation ? voronoiCanvas_ : canvas_,
                           [this](Canvas& canvas, int32_t) { drawVoronoiImage(canvas, ws_->cells); });
        return true;
    }

    // The per-cell table's planes and scratch (-objects): the analysed frame's source values,
    // then each -measure-channel, then -measure-source, named by their column prefixes.
    bool reserveObjects() {
        if (!config_.writeObjects) return true;
        std::vector<std::string> prefixes = {""};
        for (const int32_t c : config_.measureChannels) prefixes.push_back("ch" + std::to_string(c) + "_");
        if (!config_.measureSource.empty()) prefixes.push_back("src_");
        const int64_t pixels = int64_t{config_.frameWidth} * config_.frameHeight;
        return measures_.reserve(series_.measurePlaneCount(), pixels) &&
               objects_.reserve(config_.frameWidth, config_.frameHeight, std::move(prefixes));
    }
    int64_t objectBytes() const {
        if (!config_.writeObjects) return 0;
        const int32_t planes = series_.measurePlaneCount();
        return MeasurePlanes::bytesFor(planes, int64_t{config_.frameWidth} * config_.frameHeight) +
               ObjectTable::bytesFor(config_.frameWidth, config_.frameHeight, planes);
    }

    // Frame j's measured planes that could not be read, told once each on standard error; the
    // frame's intensity columns of those planes stay empty.
    void noteUnmeasuredPlanes(int32_t j) {
        if (!measures_.loaded(0)) return;  // an unreadable frame is told already
        int32_t k = 1;
        for (const int32_t c : config_.measureChannels) {
            if (!measures_.loaded(k++))
                errors_ << "vanto: warning: frame " << j << ": channel " << c
                        << " could not be read; its intensity columns are empty\n";
        }
        if (!config_.measureSource.empty() && !measures_.loaded(k))
            errors_ << "vanto: warning: frame " << j << ": -measure-source " << series_.measurePath(j)
                    << " could not be read; its intensity columns are empty\n";
        errors_ << std::flush;
    }

    // The first failed text output: the log, else a report.
    const OutputFault& firstTextFault() const {
        if (progress_.failed()) return progress_.fault();
        return averageReport_.failed() ? averageReport_.fault() : cellReport_.fault();
    }
    bool textOutputsFailed() const { return progress_.failed() || averageReport_.failed() || cellReport_.failed(); }

    // The one way a failure of a run that has begun is told: a line on standard error, the
    // same in the log while it takes lines, and in the record's errors. Straight to teardown,
    // which cuts a failed report back to its last whole frame.
    Ending fail(const Status& failure) {
        meter_.endLine(errors_);
        errors_ << "vanto: " << failure.detail << '\n' << std::flush;
        progress_.logOnly("--- " + failure.detail + " ---");
        record_.addError(failure.detail);
        return Ending::failed;
    }

    // A failure among frame j's outputs (or its compute, once outputs are begun): every output
    // goes back to the end of frame j - 1, so that all of them end with the same whole frame.
    Ending frameFailed(const Status& failure) {
        transaction_.rollBack();
        return fail(failure);
    }

    // A refusal after the record was started (working memory, kernel source, device): the
    // record keeps the reason too.
    Ending refusedAfterStart(const std::string& why) {
        refuse(why);
        record_.addError(why);
        return Ending::refused;
    }

    // A signal: frame j and later get no outputs; every earlier frame is complete.
    Ending interrupted(int32_t frame) {
        const std::string why =
            "Interrupted at frame " + std::to_string(frame) + " by " + signalName(interrupts_.pendingSignal());
        progress_.line("--- " + why + " ---");
        record_.addError(why);
        record_.setInterrupted();
        return Ending::interrupted;
    }

    // Either overflow stop: the message, then straight to teardown with status 0.
    Ending overflow(const char* message, RunEnding ending) {
        progress_.line(message);
        runEnding_ = ending;
        return Ending::finished;
    }

    // The track outputs are completed whatever stopped the run; each failed write is told and
    // fails the run.
    Ending finishExports(Ending ending) {
        const bool stoppedEarly = ending != Ending::finished || runEnding_ != RunEnding::finished;
        for (const Status& failure : exports_.finish(stoppedEarly)) {
            fail(failure);
            if (ending != Ending::interrupted) ending = Ending::failed;
        }
        return ending;
    }

    int finishRecord(Ending ending, int status) {
        listFiles(record_.framesAnalysed(), false);
        record_.finish(ending == Ending::refused  ? RunEnding::refused
                       : ending == Ending::failed ? RunEnding::failed
                                                  : runEnding_,
                       status);
        if (Status written = record_.write(config_.outputDir + "/_run.json"); !written.ok()) {
            errors_ << "vanto: " << written.detail << '\n' << std::flush;
            return 1;
        }
        return status;
    }

    Ending frameLoop() {
        // On a terminal the meter keeps to one line, which console lines on the same terminal
        // wipe and the next frame draws again.
        const bool inPlace = errorsOnTerminal(errors_);
        meter_.start(progressWanted(config_.showProgress, errors_), plan_.frameCount, monotonicMs(), inPlace);
        if (inPlace && consoleOnTerminal(console_)) progress_.wipeBeforeConsole(&meter_, &errors_);
        const Ending ending = analyseFrames();
        meter_.endLine(errors_);
        progress_.wipeBeforeConsole(nullptr, nullptr);
        return ending;
    }

    Ending analyseFrames() {
        for (int32_t j = 1; j <= plan_.frameCount; ++j) {
            if (interrupts_.pendingSignal()) return interrupted(j);
            const int64_t startMark = monotonicMs();
            Ending ending = trackNextFrame(j);
            if (ending != Ending::finished || runEnding_ != RunEnding::finished) return ending;
            // From here on the frame's outputs are written: once begun, the frame is finished.
            if (interrupts_.pendingSignal()) return interrupted(j);
            ending = writeFrameOutputs(j, startMark);
            if (ending != Ending::finished) return ending;

            const std::string finished = "--- Analysis Finished in ";
            progress_.frameConsole(finished + std::to_string(monotonicMs() - startMark) + " ---");
            progress_.frameConsole("");
            progress_.logOnly(finished + std::to_string(monotonicMs() - startMark) + " ---");
            progress_.logOnly("");
            if (progress_.failed()) return fail(progress_.fault().status());
            meter_.frameDone(j, monotonicMs(), errors_);
        }
        if (plan_.frameCount >= 1 && series_.failedFrames().size() == static_cast<size_t>(plan_.frameCount))
            return fail(Status::failure(StatusCode::undecodable,
                                        "none of the " + std::to_string(plan_.frameCount) + " frames could be read"));
        return Ending::finished;
    }

    // Frame j from the pipeline to its final cells and identities. Ending::finished with
    // runEnding_ set when a limit stops the run.
    Ending trackNextFrame(int32_t j) {
        Workspace& ws = *ws_;
        ws.beginFrame(j);
        progress_.frameLine("--- " + series_.label(j) + " ---");
        framesRead_ = j;
        FrameInFlight& frame = pipeline_->next(j, canvas_.gray.data());
        if (frame.load.code != StatusCode::ok) {
            progress_.frameConsole("Image Load Error");
            if (frame.load.code != StatusCode::undecodable) progress_.frameConsole(frame.load.detail);
            meter_.endLine(errors_);
            series_.noteFailure(j, frame.load, errors_);
            record_.addUnreadableFrame(j, frame.load.detail);
            if (config_.strict)
                return fail(Status::failure(frame.load.code, "-strict: the run stops at frame " + std::to_string(j)));
        }
        if (frame.nanSamples > 0) {
            errors_ << "vanto: warning: frame " << j << " (" << series_.label(j) << "): " << frame.nanSamples
                    << " NaN samples taken as background\n"
                    << std::flush;
            record_.addNanSamples(j, frame.nanSamples);
        }
        if (frame.curCount >= kCellLimit) return overflow("Cell Number Too Much ", RunEnding::cellLimit);
        ws.takeSegmentation(frame);
        if (config_.writeObjects) {
            measures_.swap(frame.measures);
            noteUnmeasuredPlanes(j);
        }
        pipeline_->release(frame);

        const CrossFrameNearest nearest = ws.scratch.crossFrameNearest();
        if (j > 1) {
            const Status found = device_->nearestLabelsAcrossFrames(ws.history.prevFrameLabels, ws.cells.segLabels,
                                                                    ws.tables, nearest.curNearPrev, nearest.prevNearCur);
            if (!found.ok()) return fail(found);
        }
        const TrackStatus track = trackFrame(ws.cells, ws.history, ws.scratch, ws.tables, j, config_.smallCellArea,
                                            !config_.keepDivisions);
        if (track == TrackStatus::tooManyLinks) return overflow("Link Number Too Much ", RunEnding::linkLimit);
        if (track == TrackStatus::tooManyCells) return overflow("Cell Number Too Much ", RunEnding::cellLimit);
        return Ending::finished;
    }

    // Frame j's outputs as one transaction: the calculation bitmap, the nearest-cell map and
    // Voronoi neighbours with their bitmap, both reports, the track exports (the event row
    // and track table, then the CTC mask), the per-cell table; all of them are committed
    // together, or all rolled back on the first failure. The bitmaps and the mask are tasks
    // of the frame, drawn or encoded and written beside the rest (the calculation image at
    // once, the others once what they show is known) and joined before the frame is committed.
    Ending writeFrameOutputs(int32_t j, int64_t startMark) {
        const char* dir = config_.outputDir.c_str();
        if (config_.drawCalculation) {
            calculationTask_.prepare("%s/10_Calculation_%04d.bmp", dir, j);
            pipeline_->post(calculationTask_);
        }
        bool voronoiPosted = false;
        bool maskPosted = false;
        const Status written = writeOtherOutputs(j, startMark, voronoiPosted, maskPosted);
        const Status calculation = config_.drawCalculation ? pipeline_->join(calculationTask_) : Status{};
        const Status voronoi = voronoiPosted ? pipeline_->join(voronoiTask_) : Status{};
        const Status mask = maskPosted ? pipeline_->join(maskTask_) : Status{};
        // The frame fails with its first failure in the order the outputs are listed above,
        // however the work was shared: the bitmaps' ahead of anything found after them, the
        // mask's (posted only when everything before it was written) ahead of the table's.
        if (!calculation.ok()) return frameFailed(calculation);
        if (!voronoi.ok()) return frameFailed(voronoi);
        exports_.tellWarning();
        if (!mask.ok()) return frameFailed(mask);
        if (!written.ok()) return frameFailed(written);
        transaction_.commit();
        record_.setFramesAnalysed(j);
        hintWhenEmpty(j, ws_->cells.finalCount);
        ws_->exchangeFrames();
        // The record says how far the run got, should it be killed. One that has grown large
        // (thousands of frames with NaN samples or unreadable) is rewritten at most once a second.
        const int64_t now = monotonicMs();
        if (record_.lastBytes() <= kSmallRecordBytes || now - recordWrittenMs_ >= 1000) {
            listFiles(j, true);
            if (Status written = record_.write(config_.outputDir + "/_run.json"); !written.ok()) return fail(written);
            recordWrittenMs_ = now;
        }
        return Ending::finished;
    }

    // Frame j's outputs but the calculation image, posting the Voronoi image's task
    // (voronoiPosted) once its regions are counted and the mask's (maskPosted) after the event
    // row; the first failure, after which nothing more is written or posted.
    Status writeOtherOutputs(int32_t j, int64_t startMark, bool& voronoiPosted, bool& maskPosted) {
        FrameCells& cells = ws_->cells;
        const FrameHistory& history = ws_->history;
        if (Status mapped = device_->nearestCellMap(cells.cellTable, cells.nearestCellMap); !mapped.ok())
            return mapped;
        countVoronoiNeighbours(cells, ws_->tables);
        if (config_.drawVoronoi) {
            if (config_.drawCalculation)
                std::copy(canvas_.gray.begin(), canvas_.gray.end(), voronoiCanvas_.gray.begin());
            voronoiTask_.prepare("%s/12_Voronoi_%04d.bmp", config_.outputDir.c_str(), j);
            pipeline_->post(voronoiTask_);
            voronoiPosted = true;
        }
        reportFrame(cells, history, ws_->scratch, j, startMark, cellReport_, averageReport_);
        averageReport_.flush();
        cellReport_.flush();
        if (textOutputsFailed()) return firstTextFault().status();
        if (Status exported = exports_.frame(cells, history, j); !exported.ok()) return exported;
        if (exports_.maskDue()) {
            maskTask_.prepare(exports_, cells, j);
            pipeline_->post(maskTask_);
            maskPosted = true;
        }
        if (config_.writeObjects) {
            if (Status written = objects_.writeFrame(cells, history, measures_, j); !written.ok()) return written;
        }
        return {};
    }

    // Closes every file, checked: a failure found only now still ends the run with status 1
    // and a line on standard error (and in the log while it takes lines).
    Ending tearDown(Ending ending) {
        pipeline_.reset();
        if (!config_.strict) series_.summarise(framesRead_, errors_);
        const bool averageClosed = averageReport_.close();
        const bool cellClosed = cellReport_.close();
        const bool reported = ending == Ending::failed || ending == Ending::refused;
        if (!reported && (!averageClosed || !cellClosed))
            ending = fail((!averageClosed ? averageReport_.fault() : cellReport_.fault()).status());
        if (Status closed = objects_.close(); !closed.ok()) {
            if (!reported) ending = fail(closed);
        } else if (config_.writeObjects && !reported) {
            // Gap closing is decided at the end: the table tells its tracks as _tracks.csv does.
            if (Status joined = tellJoinedTracks(config_.outputDir + "/_objects.csv", exports_.joins()); !joined.ok())
                ending = fail(joined);
        }
        if (!progress_.close() && ending != Ending::failed && ending != Ending::refused) {
            errors_ << "vanto: " << progress_.fault().describe() << '\n' << std::flush;
            record_.addError(progress_.fault().describe());
            ending = Ending::failed;
        }
        canvas_.destroyCanvas();
        voronoiCanvas_.destroyCanvas();
        device_.reset();
        runtimeCache_.release();
        ws_.reset();
        return ending;
    }

    int argc_;
    char** argv_;
    std::ostream& console_;
    std::ostream& errors_;
    ProgressLog progress_;
    ProgressMeter meter_;
    RunConfig config_;
    FrameSeries series_;
    SeriesPlan plan_;  // what the checks resolved: the frames of the run
    int32_t threads_ = 1;        // the threads the checks allowed
    std::string threadWarning_;  // why they are fewer than one per core; empty when they are not
    int32_t framesRead_ = 0;
    std::unique_ptr<Workspace> ws_;
    std::unique_ptr<FramePipeline> pipeline_;
    Canvas canvas_;          // the frame's gray pixels, and the calculation image
    Canvas voronoiCanvas_;   // the Voronoi image's when both images are drawn
    std::vector<uint8_t> idsDrawn_;  // the cells whose identity the calculation image shows
    BitmapTask calculationTask_;
    BitmapTask voronoiTask_;
    MaskTask maskTask_;
    RuntimeCacheFolder runtimeCache_;
    std::unique_ptr<ComputeDevice> device_;
    TextOutputFile averageReport_{WholeUnit::marked};
    TextOutputFile cellReport_{WholeUnit::marked};
    InterruptWatch interrupts_;
    TrackExports exports_;
    Calibration units_;       // the pixel size and frame interval of the tables
    MeasurePlanes measures_;  // the frame's measured planes, swapped in from the frame in flight
    ObjectTable objects_;
    FrameTransaction transaction_;
    RunRecord record_;
    EarlierRun earlier_;                  // the files of the run before, in -output
    std::vector<std::string> refusals_;   // why the run is refused, each as printed
    std::vector<std::string> files_;      // the whole-run files, relative to -output
    std::vector<FrameFileRange> frameRanges_;  // the files written frame by frame, with the frames so far
    std::string ctcPrefix_;               // the CTC files' folder as the record names it
    bool hinted_ = false;                 // the empty-result hint is settled
    int64_t recordWrittenMs_ = 0;         // when the record was last rewritten during the frames
    RunEnding runEnding_ = RunEnding::finished;
    bool recordStarted_ = false;
    char pathBuffer_[kPathBufferBytes] = {};
};

}  // namespace

int runVanto(int argc, char** argv, std::ostream& console, std::ostream& errors) {
    return Run(argc, argv, console, errors).execute();
}

}  // namespace vanto
