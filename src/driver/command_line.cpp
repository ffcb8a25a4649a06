#include "driver/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vanto {

namespace {

enum class Field {
    none,
    originX,
    originY,
    frameWidth,
    frameHeight,
    frameCount,
    smallCellArea,
    threshold,
    source,
    output,
    ctcDir,
    pixelSize,
    frameInterval,
};

struct Option {
    const char* word;
    Field field;  // Field::none marks a switch
    bool RunConfig::*flag;
};

constexpr Option kOptions[] = {
    {"-x", Field::originX, nullptr},
    {"-y", Field::originY, nullptr},
    {"-w", Field::frameWidth, nullptr},
    {"-h", Field::frameHeight, nullptr},
    {"-count", Field::frameCount, nullptr},
    {"-size", Field::smallCellArea, nullptr},
    {"-threshold", Field::threshold, nullptr},
    {"-source", Field::source, nullptr},
    {"-output", Field::output, nullptr},
    {"-id", Field::none, &RunConfig::drawIds},
    {"-image", Field::none, &RunConfig::drawCalculation},
    {"-voronoi", Field::none, &RunConfig::drawVoronoi},
    {"-progress", Field::none, &RunConfig::showProgress},
    {"-ctc", Field::ctcDir, nullptr},
    {"-tracks", Field::none, &RunConfig::writeTracks},
    {"-pixel-size", Field::pixelSize, nullptr},
    {"-frame-interval", Field::frameInterval, nullptr},
};

// The C library's atoi: leading blanks, a sign, digits up to the first other character.
int32_t atoiValue(const char* word) { return static_cast<int32_t>(std::strtol(word, nullptr, 10)); }

// strtod rules; the program never changes the C locale, so the decimal point is '.'.
double realValue(const char* word) { return std::strtod(word, nullptr); }

std::string rewriteCarets(const char* word) {
    std::string pattern = word;
    for (size_t i = 0; i < pattern.size() && i < 256; ++i) {
        if (pattern[i] == '^') pattern[i] = '%';
    }
    return pattern;
}

void setValue(RunConfig& config, Field field, const char* word) {
    switch (field) {
        case Field::originX: config.originX = atoiValue(word); break;
        case Field::originY: config.originY = atoiValue(word); break;
        case Field::frameWidth: config.frameWidth = atoiValue(word); break;
        case Field::frameHeight: config.frameHeight = atoiValue(word); break;
        case Field::frameCount: config.frameCount = atoiValue(word); break;
        case Field::smallCellArea: config.smallCellArea = atoiValue(word); break;
        case Field::threshold: config.threshold = atoiValue(word); break;
        case Field::source: config.sourcePattern = rewriteCarets(word); break;
        case Field::output: config.outputDir = word; break;
        case Field::ctcDir: config.ctcDir = word; break;
        case Field::pixelSize: config.pixelSize = realValue(word); break;
        case Field::frameInterval: config.frameInterval = realValue(word); break;
        case Field::none: break;
    }
}

}  // namespace

RunConfig parseCommandLine(int argc, char** argv) {
    RunConfig config;
    if (argc > 0) {
        config.sourcePattern = argv[0];
        config.outputDir = argv[0];
    }
    Field pending = Field::none;
    bool awaitingValue = false;
    for (int i = 0; i < argc; ++i) {
        const char* word = argv[i];
        if (awaitingValue) {
            setValue(config, pending, word);
            awaitingValue = false;
            continue;
        }
        for (const Option& option : kOptions) {
            if (std::strcmp(word, option.word) != 0) continue;
            if (option.flag) {
                config.*option.flag = true;
            } else {
                pending = option.field;
                awaitingValue = true;
            }
            break;
        }
    }
    return config;
}

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
