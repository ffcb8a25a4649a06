#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/frame_series.h"
#include "image/frame_loader.h"
#include "io/status.h"
#include "model/frame_in_flight.h"
#include "model/neighbourhood_tables.h"
#include "model/run_config.h"
#include "model/segment_scratch.h"

namespace vanto {

// The one place a thread reads frames from the series; one per thread.
class FrameSource {
public:
    explicit FrameSource(const FrameSeries& series) : series_(series) {}
    // Loads frame number `number` into frame's gray plane and records the outcome in frame.load;
    // on a failure the plane's contents are undefined.
    void read(int32_t number, FrameInFlight& frame);

private:
    const FrameSeries& series_;
    FrameReader reader_;
};

// A piece of the outputs of the frame the main thread is writing, handed to the pipeline with
// post() and taken back with join(): it may run on a worker meanwhile, so it must read nothing
// the main thread changes before the join and change nothing the main thread reads.
class FrameTask {
public:
    virtual ~FrameTask() = default;
    // The task's one outcome, told at the join.
    virtual Status run() = 0;

private:
    friend class FramePipeline;
    enum class State { idle, posted, running, done };
    State state_ = State::idle;  // guarded by the pipeline's mutex
    Status result_;
};

// Thread count of a run of frameCount frames: -threads N when N >= 1, else one per core;
// never more than the frames of the run or kMaxThreads.
int32_t effectiveThreads(const RunConfig& config, int32_t frameCount);
inline constexpr int32_t kMaxThreads = 256;

// Frames 1 .. frameCount of the resolved series loaded and segmented ahead of the main thread. With N threads, N - 1
// workers take frames in order, each into one of N + 1 reusable frames in flight; the main
// thread takes them back in frame order with next(). Every thread has a segmentation scratch
// and a frame source of its own. With 1 thread there is no worker: next() loads and segments
// on the calling thread.
//
// The main thread never waits idle while a frame could be begun: when the frame it wants is
// not ready, next() loads and segments the first frame no thread has begun (that frame itself,
// or one ahead of it whose frame in flight is free), then looks again. Segmentation depends on
// the frame alone, so which thread segments a frame changes no output.
//
// While it writes a frame's outputs, the main thread posts tasks that need nothing of the rest
// of the frame (drawing and writing a bitmap): a worker that is free takes the first posted
// one ahead of beginning another frame, and at the join the main thread runs the tasks no
// worker has taken itself, so it waits only while a worker runs the last of them.
//
// A frame whose loading failed is analysed with the pixels of the frame before it. Workers
// cannot know those pixels, so such a frame waits for the main thread, which copies them in
// and segments it (in next(), in frame order).
class FramePipeline {
public:
    FramePipeline(const RunConfig& config, const FrameSeries& series, const NeighbourhoodTables& tables)
        : config_(config), series_(series), tables_(tables) {}
    ~FramePipeline() { stop(); }
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // Reserves the frames in flight and the scratches for `threads` threads (at least 1).
    // Returns false when memory cannot be had; requestedBytes() then tells how much was asked.
    bool reserve(int32_t threads);
    int64_t requestedBytes() const { return requested_; }
    // Starts the workers. A worker the system refuses to start is done without: the main
    // thread then segments what no worker takes.
    void start();

    // Frame number `number`, the first call with 1 and each following one with the next number,
    // after release() of the one before. Until the frame is loaded and segmented, segments
    // frames itself (see above); a frame whose loading failed is given lastGray's pixels.
    // Afterwards lastGray (width x height bytes, kept by the caller between calls) holds the
    // frame's pixels. The frame stays the caller's until release().
    FrameInFlight& next(int32_t number, uint8_t* lastGray);
    void release(FrameInFlight& frame);

    // Hands a task (not posted already) to the workers; without workers it runs at once, on the
    // calling thread. Main thread only; at most kMaxPostedTasks at a time.
    void post(FrameTask& task);
    // The outcome of a posted task once it has run: run here when no worker has taken it,
    // else waited for, while this thread runs any other posted task no worker has taken. The
    // task can then be posted again.
    Status join(FrameTask& task);
    static constexpr size_t kMaxPostedTasks = 4;

    // Lets the frames being segmented finish, begins no more, and joins the workers. Frames
    // never returned by next() are dropped. Safe to call more than once.
    void stop();

    // For tests: called on the thread about to load frame `number`, before it loads, with
    // whether that is the thread of next(). Set before start().
    void setBeginHook(std::function<void(int32_t number, bool mainThread)> hook) { beginHook_ = std::move(hook); }
    // For tests: called on the thread about to run a posted task, with whether that is the
    // main thread. Set before start().
    void setTaskHook(std::function<void(bool mainThread)> hook) { taskHook_ = std::move(hook); }

private:
    enum class SlotState { free, working, loadFailed, ready, taken };

    void work(SegmentScratch& scratch, FrameSource& source);
    // Whether the first frame no thread has begun can be begun: it is in the run and its frame
    // in flight is free. With mutex_ held.
    bool canBegin();
    // Loads frame `number` into its frame in flight and segments it when it loaded.
    void loadAndSegment(int32_t number, SegmentScratch& scratch, FrameSource& source, bool mainThread);
    // Takes the first frame no thread has begun (canBegin() must hold) and loads and segments
    // it with the lock released; returns with it held again.
    void segmentFirstUnbegun(std::unique_lock<std::mutex>& lock, SegmentScratch& scratch, FrameSource& source,
                             bool mainThread);
    // Runs the first posted task with the lock released; returns with it held again.
    void runFirstPosted(std::unique_lock<std::mutex>& lock, bool mainThread);
    FrameInFlight& slotOf(int32_t number) { return *frames_[(number - 1) % frames_.size()]; }
    SlotState& stateOf(int32_t number) { return states_[(number - 1) % states_.size()]; }

    const RunConfig& config_;
    const FrameSeries& series_;
    const NeighbourhoodTables& tables_;
    std::vector<std::unique_ptr<FrameInFlight>> frames_;
    // One scratch and one source per thread: the first pair is the main thread's, the others
    // the workers'.
    std::vector<std::unique_ptr<SegmentScratch>> scratches_;
    std::vector<std::unique_ptr<FrameSource>> sources_;
    int64_t requested_ = 0;
    std::function<void(int32_t, bool)> beginHook_;
    std::function<void(bool)> taskHook_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    std::vector<SlotState> states_;
    int32_t nextToBegin_ = 1;
    std::vector<FrameTask*> posted_;  // posted and not taken, first posted first
    bool stopping_ = false;

    std::vector<std::thread> workers_;
};

}  // namespace vanto
