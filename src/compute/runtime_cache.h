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

    // Before the first OpenCL call of the process: leaves the environment as it is when the
    // runtime's own folder exists and is writable or can be created, else makes a private
    // folder below $TMPDIR (or /tmp) and sets POCL_CACHE_DIR to it. False when even that
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

// True when path is a writable folder, or the first folder that exists on the way up from
// it is writable, so that the missing part can be created.
bool folderCanBeMade(const std::string& path);

}  // namespace vanto
