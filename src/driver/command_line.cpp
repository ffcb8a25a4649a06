#include "driver/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "driver/option_table.h"
#include "driver/version.h"

namespace vanto {

namespace {

// A word that names no option: one that looks like an option word (a dash and a letter, or two
// dashes) is refused with the nearest option; any other word is ignored with a warning.
void noteUnknownWord(const char* word, ParsedCommandLine& parsed) {
    const bool optionLike = word[0] == '-' && (std::isalpha(static_cast<unsigned char>(word[1])) || word[1] == '-');
    if (!optionLike) {
        parsed.warnings.push_back(std::string("stray word \"") + word + "\" ignored: it follows no option that takes it");
        return;
    }
    std::string why = std::string("unknown option \"") + word + "\"";
    if (const OptionEntry* nearest = nearestOption(word)) why += std::string(": did you mean ") + nearest->word + "?";
    parsed.errors.push_back(why + " (-help lists every option)");
}

// Why option at word i cannot take its value words; empty when it can.
std::string missingValue(const OptionEntry& option, int i, int argc, char** argv) {
    const int words = valueWords(option);
    const std::string what = words == 2 ? " needs two values LO HI" : " needs a value";
    for (int k = 1; k <= words; ++k) {
        if (i + k >= argc) return std::string(option.word) + what + " after it";
        if (findOption(argv[i + k]))
            return std::string(option.word) + what + ", not the option " + argv[i + k];
    }
    return {};
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    ParsedCommandLine parsed;
    RunConfig& config = parsed.config;
    if (argc > 0) {
        config.sourcePattern = argv[0];
        config.outputDir = argv[0];
    }
    for (int i = 0; i < argc; ++i) {
        const OptionEntry* option = findOption(argv[i]);
        if (!option) {
            if (i > 0) noteUnknownWord(argv[i], parsed);
            continue;
        }
        if (std::string why = missingValue(*option, i, argc, argv); !why.empty()) {
            parsed.errors.push_back(why);
            continue;  // the next word is read as what it is
        }
        readOptionValue(*option, argv + i + 1, config, parsed.warnings, parsed.errors);
        i += valueWords(*option);
    }
    return parsed;
}

std::string usageText() {
    std::string text = "usage: vanto -source PATTERN -output DIR -w W -h H -count N [options]\n";
    size_t column = 0;
    for (const OptionEntry& option : optionTable()) column = std::max(column, std::strlen(option.word) + 1);
    for (const OptionEntry& option : optionTable()) {
        if (!option.help) continue;  // named on another option's line
        text += "  " + std::string(option.word) + std::string(column - std::strlen(option.word), ' ') + option.help +
                "\n";
    }
    return text;
}

int answerCommandLine(const ParsedCommandLine& parsed, int argc, std::ostream& out, std::ostream& errors) {
    const RunConfig& config = parsed.config;
    if (argc <= 1) {
        errors << usageText() << std::flush;
        return 1;
    }
    if (config.showHelp) {
        out << usageText() << std::flush;
        return 0;
    }
    if (config.showVersion) {
        out << versionText() << std::flush;
        return 0;
    }
    for (const std::string& warning : parsed.warnings) errors << "vanto: warning: " << warning << '\n';
    errors << std::flush;
    return -1;
}

std::string versionText() { return std::string("vanto ") + kVersion + " (" + kVersionDate + ")\n"; }

bool isFramePattern(const std::string& pattern) {
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        ++i;
        if (i < pattern.size() && pattern[i] == '%') continue;
        while (i < pattern.size() && std::strchr("-+ #0", pattern[i])) ++i;
        while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') ++i;
        if (i < pattern.size() && pattern[i] == '.') {
            ++i;
            while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') ++i;
        }
        if (i >= pattern.size() || !std::strchr("diouxX", pattern[i])) return false;
        ++conversions;
    }
    return conversions == 1;
}

}  // namespace vanto
