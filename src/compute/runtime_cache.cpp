#include "compute/runtime_cache.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace vanto {

namespace {

constexpr const char* kCacheVariable = "POCL_CACHE_DIR";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The folder the runtime would use by itself.
std::string runtimeCacheFolder() {
    const std::string chosen = environment(kCacheVariable);
    if (!chosen.empty()) return chosen;
    const std::string xdg = environment("XDG_CACHE_HOME");
    if (!xdg.empty()) return xdg + "/pocl/kcache";
    if (std::getenv("HOME")) return environment("HOME") + "/.cache/pocl/kcache";
    return "/tmp/pocl/kcache";
}

}  // namespace

bool folderCanBeMade(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path at = fs::absolute(path, ec);
    if (ec) return false;
    // Up to the first part that exists: it must be a folder this process may write in.
    while (!fs::exists(fs::symlink_status(at, ec)) && at.has_relative_path()) at = at.parent_path();
    return fs::is_directory(at, ec) && ::access(at.c_str(), W_OK | X_OK) == 0;
}

bool RuntimeCacheFolder::prepare() {
    if (folderCanBeMade(runtimeCacheFolder())) return true;
    std::string base = environment("TMPDIR");
    if (base.empty() || !folderCanBeMade(base)) base = "/tmp";
    std::string pattern = base + "/vanto-kernel-cache-XXXXXX";
    if (!::mkdtemp(pattern.data())) return false;
    private_ = pattern;
    hadVariable_ = std::getenv(kCacheVariable) != nullptr;
    previousValue_ = environment(kCacheVariable);
    return ::setenv(kCacheVariable, private_.c_str(), 1) == 0;
}

void RuntimeCacheFolder::release() {
    if (private_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(private_, ec);
    private_.clear();
    if (hadVariable_) {
        ::setenv(kCacheVariable, previousValue_.c_str(), 1);
    } else {
        ::unsetenv(kCacheVariable);
    }
}

}  // namespace vanto
