#pragma once
#include <chrono>
#include <cstdint>

namespace vanto {

// Elapsed milliseconds of a monotonic clock (processor time would undercount waits on the
// compute device and on files).
inline int64_t monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace vanto
