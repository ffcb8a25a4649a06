#pragma once
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/run_config.h"

namespace vanto {

// What an option takes after its word: nothing (a switch), a 32-bit integer read by atoi
// rules, a decimal number, two decimal numbers LO HI, or a word as it is; integers: one
// integer each time the option is given, kept in order.
enum class OptionKind { flag, integer, real, pair, text, integers };

// The values an option's check allows, inclusive, and the refusal for any other (infinite or
// not a number included). An option without a refusal takes every value.
struct OptionRange {
    double low = std::numeric_limits<double>::lowest();
    double high = std::numeric_limits<double>::max();
    const char* refusal = nullptr;
};

// One command-line option: its word, what it takes, where the value goes in RunConfig, the
// values it allows, its usage line and its name in the run record. The defaults are those of
// RunConfig itself.
struct OptionEntry {
    const char* word;
    OptionKind kind;
    const char* help;    // the usage line after the word; nullptr: named on another option's line
    const char* record;  // its key among the run record's options; nullptr: not recorded
    bool RunConfig::*flag = nullptr;         // flag: set to true
    int32_t RunConfig::*integer = nullptr;   // integer
    double RunConfig::*real = nullptr;       // real; pair: LO
    double RunConfig::*high = nullptr;       // pair: HI
    std::string RunConfig::*text = nullptr;  // text
    std::vector<int32_t> RunConfig::*list = nullptr;  // integers
    bool RunConfig::*given = nullptr;        // set once a value is read (pair: a usable one)
    OptionRange range{};
    bool carets = false;  // text: each "^" among the first 256 characters becomes "%"
    const char* absent = nullptr;  // the warning of a run that does not give it; needs given
};

// Every option, in the order of the usage text.
std::span<const OptionEntry> optionTable();

// The option named exactly word; nullptr when there is none.
const OptionEntry* findOption(const char* word);

// The option whose word is nearest to word (edit distance, letter case ignored), for the
// refusal of a word that names none; nullptr when none is close.
const OptionEntry* nearestOption(const char* word);

// How many words follow the option's word: 0, 1 or (pair) 2.
int valueWords(const OptionEntry& option);

// Reads the valueWords(option) words at values into config. A number that is not one as a
// whole adds a warning (integers keep the atoi reading, decimals become not-a-number, refused
// by the checks); one that does not fit 32 bits, or a pair that is not LO < HI, adds an error
// and leaves config as it was.
void readOptionValue(const OptionEntry& option, const char* const* values, RunConfig& config,
                     std::vector<std::string>& warnings, std::vector<std::string>& errors);

// The checks of the option values alone, every refusal at once in table order, then those
// that relate two options.
std::vector<std::string> optionRefusals(const RunConfig& config);

// The warnings of a run that starts without the options that warn when absent (-threshold).
std::vector<std::string> absentOptionWarnings(const RunConfig& config);

// The recorded options with the values of config, in table order.
nlohmann::ordered_json recordedOptions(const RunConfig& config);

}  // namespace vanto
