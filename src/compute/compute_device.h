#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "io/status.h"
#include "model/neighbourhood_tables.h"

namespace vanto {

// The OpenCL side of a run: first device of the first platform, the program built from
// kernel3.cl, eleven buffers and the kernels addone and addtwo with their fixed arguments.
// Each wrapper is named for what it computes; the kernel it runs is named in its comment.
// Every run is synchronous. A failed OpenCL call makes the call return a deviceFailed status,
// and the run's results must then not be used.
class ComputeDevice {
public:
    ComputeDevice();
    ComputeDevice(const ComputeDevice&) = delete;
    ComputeDevice& operator=(const ComputeDevice&) = delete;
    ~ComputeDevice();  // releases addone, addtwo, the eleven buffers, the program, the context

    // Chooses the device (printing "Platform name : ..." and "Device name : ..." to console),
    // builds the program from the file at kernelPath (printing the build log to console on
    // failure) or loads it from the program cache (see ProgramCache; a missing, stale or
    // corrupt entry is built and stored again, and a cache that cannot be written is only
    // skipped), creates buffers and kernels for a width x height frame. A deviceFailed status
    // (its detail also in error()) when anything fails; an empty frame or one of more than 2^31 - 1 pixels or a side above
    // 65,535 is refused before the platform is touched.
    Status open(const std::string& kernelPath, int32_t width, int32_t height, std::ostream& console);

    // Kernel addtwo: lists the first offset of each tile's searches (LabelReach) when pruning,
    // uploads prevLabels, curLabels, the two offset tables and the starts; reads into
    // curNearPrev, for each pixel of a previous cell, the current label nearest to it (result
    // A), and into prevNearCur the previous label nearest to each pixel of a current cell
    // (result B); -1 where there is none (see addTwoHost).
    Status nearestLabelsAcrossFrames(const int32_t* prevLabels, const int32_t* curLabels,
                                   const NeighbourhoodTables& tables, int32_t* curNearPrev, int32_t* prevNearCur);
    // Kernel addone: lists the candidate records of each group of pixels (NearestCandidates),
    // uploads the whole cell table (kTableRecords records) and the lists, reads the index of
    // the nearest cell of each pixel into outNearest (see addOneHost).
    Status nearestCellMap(const int32_t* cellTable, int32_t* outNearest);

    // Whether addtwo skips the offsets that cannot reach a cell (LabelReach; off after open(),
    // see docs/speed.md); off, every search starts at offset 0. The results are the same; the
    // benchmark and the tests compare.
    void setAddTwoPruning(bool on);

    // The folder of the program cache for the next open(); empty: no cache. Without this,
    // ProgramCache::defaultFolder().
    void setProgramCacheFolder(std::string folder) { cacheFolder_ = std::move(folder); }
    // True when the last open() took the program from the cache rather than building it.
    bool programFromCache() const { return fromCache_; }

    // The last failure's own words (a failed call returns them as its status too).
    const std::string& error() const { return error_; }

private:
    struct Handles;
    std::unique_ptr<Handles> h_;
    std::string error_;
    std::optional<std::string> cacheFolder_;
    bool fromCache_ = false;
    Status runFailure() const;  // a failed run: "compute device failure: " and error_
};

}  // namespace vanto
