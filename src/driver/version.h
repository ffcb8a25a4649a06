#pragma once

namespace vanto {

// The program's version and its date, as --version, the run log and the run record name them.
inline constexpr const char* kVersion = "1.0.3.0";
inline constexpr const char* kVersionDate = "2020/02/22";

}  // namespace vanto
