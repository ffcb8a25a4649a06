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

bool makeFolder(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    // Made now or there already; either way it must be a folder this process may write in.
    return !ec && std::filesystem::is_directory(path, ec) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool RuntimeCacheFolder::prepare() {
    if (makeFolder(runtimeCacheFolder())) return true;
    std::string pattern = environment("TMPDIR") + "/vanto-kernel-cache-XXXXXX";
    if (environment("TMPDIR").empty() || !::mkdtemp(pattern.data())) {
        pattern = "/tmp/vanto-kernel-cache-XXXXXX";
        if (!::mkdtemp(pattern.data())) return false;
    }
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
