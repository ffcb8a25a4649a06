#include "driver/frame_pipeline.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "segment/segmentation.h"

namespace vanto {

void FrameSource::read(int32_t number, FrameInFlight& frame) {
    size_t nans = 0;
    frame.load = series_.load(reader_, number, frame.gray(), frame.measures, &nans);
    frame.nanSamples = static_cast<int64_t>(nans);
}

int32_t effectiveThreads(const RunConfig& config, int32_t frameCount) {
    int64_t n = config.threads;
    if (n < 1) n = std::max<int64_t>(std::thread::hardware_concurrency(), 1);
    return static_cast<int32_t>(std::clamp<int64_t>(std::min<int64_t>(n, frameCount), 1, kMaxThreads));
}

bool FramePipeline::reserve(int32_t threads) {
    threads = std::max(threads, 1);
    // One thread needs one frame; otherwise each worker segments one, one waits ready and the
    // main thread holds one (or segments one while it would wait).
    const int32_t frameCount = threads == 1 ? 1 : threads + 1;
    const int32_t scratchCount = threads;
    const int64_t pixels = std::max<int64_t>(config_.frameWidth, 0) * std::max<int64_t>(config_.frameHeight, 0);
    const int32_t planes = series_.measurePlaneCount();
    requested_ = frameCount * (FrameInFlight::bytesFor(pixels) + MeasurePlanes::bytesFor(planes, pixels)) +
                 scratchCount * SegmentScratch::bytesFor(pixels);
    const bool extensions = usesCellOptions(config_);
    if (extensions) requested_ += scratchCount * SegmentScratch::extensionBytesFor(pixels);
    const bool splitting = config_.splitDepth > 0 || config_.splitGray > 0;
    if (splitting)
        requested_ += scratchCount * SegmentScratch::splittingBytesFor(config_.frameWidth, config_.frameHeight);
    for (int32_t i = 0; i < frameCount; ++i) {
        frames_.push_back(std::make_unique<FrameInFlight>());
        if (!frames_.back()->reserve(config_.frameWidth, config_.frameHeight)) return false;
        if (!frames_.back()->measures.reserve(planes, pixels)) return false;
    }
    for (int32_t i = 0; i < scratchCount; ++i) {
        scratches_.push_back(std::make_unique<SegmentScratch>(tables_));
        if (!scratches_.back()->reserve(config_.frameWidth, config_.frameHeight)) return false;
        if (extensions && !scratches_.back()->reserveExtensions()) return false;
        if (splitting && !scratches_.back()->reserveSplitting()) return false;
        sources_.push_back(std::make_unique<FrameSource>(series_));
    }
    states_.assign(frames_.size(), SlotState::free);
    posted_.reserve(kMaxPostedTasks);
    return true;
}

void FramePipeline::start() {
    if (frames_.size() < 2) return;
    for (size_t i = 1; i < scratches_.size(); ++i) {
        try {
            workers_.emplace_back([this, i] { work(*scratches_[i], *sources_[i]); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

bool FramePipeline::canBegin() {
    return !stopping_ && nextToBegin_ <= series_.plan().frameCount && stateOf(nextToBegin_) == SlotState::free;
}

void FramePipeline::loadAndSegment(int32_t number, SegmentScratch& scratch, FrameSource& source, bool mainThread) {
    if (beginHook_) beginHook_(number, mainThread);
    FrameInFlight& frame = slotOf(number);
    frame.frame = number;
    source.read(number, frame);
    if (frame.load.code == StatusCode::ok) segmentFrame(scratch, frame, config_);
}

void FramePipeline::segmentFirstUnbegun(std::unique_lock<std::mutex>& lock, SegmentScratch& scratch,
                                        FrameSource& source, bool mainThread) {
    const int32_t number = nextToBegin_++;
    stateOf(number) = SlotState::working;
    lock.unlock();
    loadAndSegment(number, scratch, source, mainThread);
    lock.lock();
    stateOf(number) = slotOf(number).load.code == StatusCode::ok ? SlotState::ready : SlotState::loadFailed;
    changed_.notify_all();
}

void FramePipeline::work(SegmentScratch& scratch, FrameSource& source) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !posted_.empty() || canBegin(); });
        if (stopping_) return;
        // The frame being written waits for its tasks; frames ahead can wait.
        if (!posted_.empty()) {
            runFirstPosted(lock, false);
        } else {
            segmentFirstUnbegun(lock, scratch, source, false);
        }
    }
}

void FramePipeline::runFirstPosted(std::unique_lock<std::mutex>& lock, bool mainThread) {
    FrameTask& task = *posted_.front();
    posted_.erase(posted_.begin());
    task.state_ = FrameTask::State::running;
    lock.unlock();
    if (taskHook_) taskHook_(mainThread);
    Status result = task.run();
    lock.lock();
    task.result_ = std::move(result);
    task.state_ = FrameTask::State::done;
    changed_.notify_all();
}

void FramePipeline::post(FrameTask& task) {
    if (workers_.empty()) {
        if (taskHook_) taskHook_(true);
        task.result_ = task.run();
        task.state_ = FrameTask::State::done;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        task.state_ = FrameTask::State::posted;
        posted_.push_back(&task);
    }
    changed_.notify_all();
}

Status FramePipeline::join(FrameTask& task) {
    std::unique_lock lock(mutex_);
    // Rather than wait, this thread runs the tasks no worker has taken, in the order posted:
    // this one and those before it, and while a worker runs this one, those after it, which
    // the frame needs as well.
    while (task.state_ != FrameTask::State::done) {
        if (!posted_.empty()) {
            runFirstPosted(lock, true);
            continue;
        }
        changed_.wait(lock, [&] { return task.state_ == FrameTask::State::done || !posted_.empty(); });
    }
    task.state_ = FrameTask::State::idle;
    return std::move(task.result_);
}

FrameInFlight& FramePipeline::next(int32_t number, uint8_t* lastGray) {
    FrameInFlight& frame = slotOf(number);
    const size_t bytes = static_cast<size_t>(std::max(config_.frameWidth, 0)) * std::max(config_.frameHeight, 0);
    SegmentScratch& scratch = *scratches_.front();
    if (workers_.empty()) {
        loadAndSegment(number, scratch, *sources_.front(), true);
    } else {
        std::unique_lock lock(mutex_);
        for (;;) {
            const SlotState state = stateOf(number);
            if (state == SlotState::ready || state == SlotState::loadFailed) break;
            // Frame `number` is being segmented (or not yet begun): rather than wait, begin the
            // first frame nobody has, which is never later than any a worker could take next.
            if (canBegin()) {
                segmentFirstUnbegun(lock, scratch, *sources_.front(), true);
                continue;
            }
            changed_.wait(lock, [&] {
                return stateOf(number) == SlotState::ready || stateOf(number) == SlotState::loadFailed ||
                       canBegin();
            });
        }
        // No worker touches a frame that is ready or failed to load.
        stateOf(number) = SlotState::taken;
    }
    if (frame.load.code != StatusCode::ok) {
        // Left unsegmented by whoever loaded it, as only this thread knows the pixels before.
        std::memcpy(frame.gray(), lastGray, bytes);
        segmentFrame(scratch, frame, config_);
    }
    std::memcpy(lastGray, frame.gray(), bytes);
    return frame;
}

void FramePipeline::release(FrameInFlight& frame) {
    if (workers_.empty()) return;
    {
        std::lock_guard lock(mutex_);
        stateOf(frame.frame) = SlotState::free;
    }
    changed_.notify_all();
}

void FramePipeline::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

}  // namespace vanto
