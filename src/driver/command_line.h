#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "model/run_config.h"

namespace vanto {

// What the words say: the configuration, the words the run goes on without (stray words,
// numbers that are not one as a whole) and those it is refused for
// (an unknown option word, a value option without its value, a number that does not fit, a
// -range that is not LO < HI).
struct ParsedCommandLine {
    RunConfig config;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
};

// The walk over every word, the program's path included, with the options of optionTable(): a
// switch sets its flag, a value option takes the next word (-range the next two) unless that
// word is itself an option word or missing (an error; the word is then read as an option),
// the last value wins. A word starting with a dash and a letter (or two dashes) that names no
// option is an error naming the nearest option; any other word that no option takes is a
// warning. Numbers are read by atoi rules ("12abc" is 12, "abc" is 0, each with a warning);
// one that does not fit 32 bits is an error naming the option. In the -source word every "^" among its first 256
// characters becomes "%". sourcePattern and outputDir default to the first word. Never fails,
// prints nothing, checks no value against another.
ParsedCommandLine parseCommandLine(int argc, char** argv);

// True when pattern holds exactly one integer conversion (%d, %i, %o, %u, %x or %X, with
// flags, width and precision but no length modifier or "*"), any number of "%%", and no
// other conversion: the only patterns that can be formatted with the one frame number.
bool isFramePattern(const std::string& pattern);

// One line per option of optionTable(), for -help.
std::string usageText();

// The program's name and version, for --version.
std::string versionText();

// What the driver does with the words before anything else: the usage text (no words after
// the path: on errors, status 1; -help: on out, status 0), the version (status 0), then one
// line on errors per warning. Returns -1 when the run goes on to its checks, which report
// parsed.errors with their own refusals.
int answerCommandLine(const ParsedCommandLine& parsed, int argc, std::ostream& out, std::ostream& errors);

}  // namespace vanto
