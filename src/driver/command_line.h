#pragma once
#include <string>

#include "model/run_config.h"

namespace vanto {

// The two-state walk over every word, the program's path included: a switch sets its flag,
// a value option takes the next word whatever it is (numbers by atoi rules), a word that
// matches nothing is ignored, the last value wins and a trailing value option does nothing.
// In the -source word every "^" among its first 256 characters becomes "%".
// sourcePattern and outputDir default to the first word. Never fails, prints nothing.
RunConfig parseCommandLine(int argc, char** argv);

// True when pattern holds exactly one integer conversion (%d, %i, %o, %u, %x or %X, with
// flags, width and precision but no length modifier or "*"), any number of "%%", and no
// other conversion: the only patterns that can be formatted with the one frame number.
bool isFramePattern(const std::string& pattern);

}  // namespace vanto
