#pragma once
// Tests that read the real series in ../shared/data. Where the data are missing such a test
// skips and says why, except under CI=true, where missing data is a failure: CI always has
// them, so a test must never pass there without having looked at them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace vanto::testing {

inline bool sharedDataRequired() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

}  // namespace vanto::testing

// Ends the test at once (skip, or failure under CI=true) when `path` does not exist.
#define VANTO_NEED_SHARED_DATA(path)                                                                  \
    do {                                                                                              \
        const std::string neededPath_ = (path);                                                       \
        if (!std::filesystem::exists(neededPath_)) {                                                  \
            if (::vanto::testing::sharedDataRequired()) FAIL() << "CI=true but no shared data at " << neededPath_; \
            GTEST_SKIP() << "no shared data at " << neededPath_;                                      \
        }                                                                                             \
    } while (0)
