#pragma once
#include <ostream>

namespace vanto {

// One whole run over the command-line words (the first is the program's path). Progress
// goes to console and is mirrored into the run log; refusals go to errors. Returns the exit
// status: 0 for every run that ends normally or by an overflow stop, 1 for a refused run.
int runVanto(int argc, char** argv, std::ostream& console, std::ostream& errors);

}  // namespace vanto
