#pragma once
#include <string>

namespace vanto {

// The OpenCL runtime on CPUs (PoCL) keeps compiled kernels in a cache folder: POCL_CACHE_DIR
// when that names an existing folder, else $XDG_CACHE_HOME/pocl/kcache, else
// $HOME/.cache/pocl/kcache, else /tmp/pocl/kcache. When that folder cannot be created (a
// missing or read-only home, common for batch users) the runtime reports no device at all.
// This points POCL_CACHE_DIR at a private temporary folder for the run in that case, and
// removes the folder again at the end.
class RuntimeCacheFolder {
public:
    RuntimeCacheFolder() = default;
    RuntimeCacheFolder(const RuntimeCacheFolder&) = delete;
    RuntimeCacheFolder& operator=(const RuntimeCacheFolder&) = delete;
    ~RuntimeCacheFolder() { release(); }

    // Before the first OpenCL call of the process: makes the runtime's own folder (with its
    // parents) and leaves the environment as it is when that folder is then there and
    // writable, else makes a private folder below $TMPDIR (or /tmp when that fails) and sets
    // POCL_CACHE_DIR to it. False when even that
    // fails; the run then goes on and the runtime says what it can.
    bool prepare();
    // Removes the private folder with everything in it (after the device is released) and
    // gives POCL_CACHE_DIR its earlier value back.
    void release();

private:
    std::string private_;
    bool hadVariable_ = false;
    std::string previousValue_;
};

// Makes path and its missing parents; true when path is then a folder this process may
// write in (made now or there before).
bool makeFolder(const std::string& path);

}  // namespace vanto
