#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vanto {

// One output that receives something for every analysed frame: a report's rows, a bitmap, a
// mask, an event row, the state of the track table. What a frame wrote stays only once the
// whole frame has been written: the run commits every output of the frame together, or rolls
// every one of them back, so that all outputs end on the same whole frame.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    // Every output of the frame was written: what this one took for the frame stays.
    virtual void commitFrame() = 0;
    // An output of the frame failed (or the run stops within it): what this one took for the
    // frame goes, and it stands as after the last committed frame.
    virtual void rollBackFrame() = 0;
};

// The per-frame files written whole (bitmaps, masks): each is listed as it is begun, and a
// frame rolled back removes every file it began, a partial one included.
class FrameFiles : public FrameOutput {
public:
    // Call before the file is created, so that a failure part-way still removes it. The
    // names are kept in strings reused frame after frame.
    void begin(const char* path) {
        if (count_ == begun_.size()) begun_.emplace_back();
        begun_[count_++].assign(path);
    }
    void commitFrame() override { count_ = 0; }
    void rollBackFrame() override;

private:
    std::vector<std::string> begun_;
    size_t count_ = 0;
};

// The outputs of a run, committed and rolled back together, in the order they joined.
class FrameTransaction {
public:
    void join(FrameOutput& output) { outputs_.push_back(&output); }
    void commit() {
        for (FrameOutput* o : outputs_) o->commitFrame();
    }
    void rollBack() {
        for (FrameOutput* o : outputs_) o->rollBackFrame();
    }

private:
    std::vector<FrameOutput*> outputs_;
};

}  // namespace vanto
