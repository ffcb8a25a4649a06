#include "driver/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

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
    range,
    firstFrame,
    channel,
    ctcDir,
    pixelSize,
    frameInterval,
    threads,
};

struct Option {
    const char* word;
    Field field;  // Field::none marks a switch
    bool RunConfig::*flag;
    const char* help = nullptr;  // the usage line's text after the word
};

constexpr Option kOptions[] = {
    {"-x", Field::originX, nullptr, "X        left edge of the analysed window in the frame (default 0)"},
    {"-y", Field::originY, nullptr, "Y        top edge of the analysed window (default 0)"},
    {"-w", Field::frameWidth, nullptr, "W        width of the analysed window in pixels"},
    {"-h", Field::frameHeight, nullptr, "H        height of the analysed window in pixels"},
    {"-count", Field::frameCount, nullptr, "N        number of frames to analyse (a stack: all pages)"},
    {"-size", Field::smallCellArea, nullptr, "A        area below which a cell counts as small"},
    {"-threshold", Field::threshold, nullptr, "T        depth threshold of the segmentation"},
    {"-source", Field::source, nullptr, "PATTERN  frame files, e.g. f_%04d.tif (or ^04d), or one multi-page TIFF"},
    {"-output", Field::output, nullptr, "DIR      existing folder for the log, the reports and the bitmaps"},
    {"-id", Field::none, &RunConfig::drawIds, "         draw cell numbers into the calculation bitmaps"},
    {"-image", Field::none, &RunConfig::drawCalculation, "         write a calculation bitmap per frame"},
    {"-voronoi", Field::none, &RunConfig::drawVoronoi, "         write a Voronoi bitmap per frame"},
    {"-range", Field::range, nullptr, "LO HI    map samples LO..HI onto gray 0..255 (16-bit and float frames)"},
    {"-invert", Field::none, &RunConfig::invert, "         analyse 255 - gray: bright cells on a dark background"},
    {"-first", Field::firstFrame, nullptr, "N        number of the first frame file or page read (default 1)"},
    {"-channel", Field::channel, nullptr, "C        channel of a multi-channel stack, from 1"},
    {"-strict", Field::none, &RunConfig::strict, "         stop with status 1 at the first unreadable frame"},
    {"-help", Field::none, &RunConfig::showHelp, "         print this text (also --help)"},
    {"--help", Field::none, &RunConfig::showHelp, nullptr},
    {"--version", Field::none, &RunConfig::showVersion, "         print the version"},
    {"-progress", Field::none, &RunConfig::showProgress, "         frames done, rate and time left on standard error"},
    {"-ctc", Field::ctcDir, nullptr, "DIR      write Cell Tracking Challenge label images and res_track.txt into DIR"},
    {"-tracks", Field::none, &RunConfig::writeTracks, "         write the track table _tracks.csv and the event table _events.csv"},
    {"-pixel-size", Field::pixelSize, nullptr, "UM       micrometres per pixel: physical columns in the track outputs"},
    {"-frame-interval", Field::frameInterval, nullptr, "MIN      minutes between frames: time columns in the track outputs"},
    {"-threads", Field::threads, nullptr, "N        threads of the run (default: one per core)"},
};

// strtoll's reading of a word: leading blanks, a sign, digits up to the first other character.
struct NumberReading {
    long long value = 0;
    bool digits = false;    // at least one digit was read
    bool whole = false;     // nothing follows the digits
    bool overflow = false;  // beyond long long
};

NumberReading readNumber(const char* word) {
    NumberReading r;
    char* end = nullptr;
    errno = 0;
    r.value = std::strtoll(word, &end, 10);
    r.overflow = errno == ERANGE;
    r.digits = end != word;
    r.whole = r.digits && *end == '\0';
    return r;
}

std::string quoted(const char* word) { return std::string("\"") + word + "\""; }

// The atoi reading of a 32-bit number option; an error when it does not fit, a warning when
// the word is not a number as a whole.
int32_t intValue(RunConfig& config, const char* option, const char* word) {
    const NumberReading r = readNumber(word);
    if (r.overflow || r.value < INT32_MIN || r.value > INT32_MAX) {
        config.errors.push_back(std::string(option) + " " + quoted(word) +
                                " does not fit a 32-bit signed integer (-2147483648 to 2147483647)");
        return static_cast<int32_t>(r.value);
    }
    if (!r.whole) {
        config.warnings.push_back(std::string(option) + " " + quoted(word) + " is not a number; read as " +
                                  std::to_string(r.value));
    }
    return static_cast<int32_t>(r.value);
}

// A decimal number as a whole, finite; false otherwise.
bool realValue(const char* word, double& value) {
    char* end = nullptr;
    value = std::strtod(word, &end);
    return end != word && *end == '\0' && std::isfinite(value);
}

// A calibration value; not a number (refused when the options are checked) unless the word is
// a finite decimal number as a whole. The program never changes the C locale: the point is '.'.
double calibration(const char* word) {
    double value = 0;
    return realValue(word, value) ? value : std::numeric_limits<double>::quiet_NaN();
}

std::string rewriteCarets(const char* word) {
    std::string pattern = word;
    for (size_t i = 0; i < pattern.size() && i < 256; ++i) {
        if (pattern[i] == '^') pattern[i] = '%';
    }
    return pattern;
}

void setRange(RunConfig& config, const char* low, const char* high) {
    double lo = 0;
    double hi = 0;
    if (!realValue(low, lo) || !realValue(high, hi)) {
        config.errors.push_back("-range " + quoted(low) + " " + quoted(high) + " must be two finite numbers LO HI");
        return;
    }
    if (!(lo < hi)) {
        config.errors.push_back("-range " + quoted(low) + " " + quoted(high) + " must have LO below HI");
        return;
    }
    config.hasRange = true;
    config.rangeLow = lo;
    config.rangeHigh = hi;
}

void setValue(RunConfig& config, Field field, const char* option, const char* word) {
    switch (field) {
        case Field::originX: config.originX = intValue(config, option, word); break;
        case Field::originY: config.originY = intValue(config, option, word); break;
        case Field::frameWidth: config.frameWidth = intValue(config, option, word); break;
        case Field::frameHeight: config.frameHeight = intValue(config, option, word); break;
        case Field::frameCount:
            config.frameCount = intValue(config, option, word);
            config.hasCount = true;
            break;
        case Field::smallCellArea: config.smallCellArea = intValue(config, option, word); break;
        case Field::threshold: config.threshold = intValue(config, option, word); break;
        case Field::source: config.sourcePattern = rewriteCarets(word); break;
        case Field::output: config.outputDir = word; break;
        case Field::threads: config.threads = intValue(config, option, word); break;
        case Field::firstFrame: config.firstFrame = intValue(config, option, word); break;
        case Field::channel: config.channel = intValue(config, option, word); break;
        case Field::range:
        case Field::ctcDir: config.ctcDir = word; break;
        case Field::pixelSize: config.pixelSize = calibration(word); break;
        case Field::frameInterval: config.frameInterval = calibration(word); break;
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
    const Option* pending = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* word = argv[i];
        if (pending) {
            if (pending->field == Field::range) {
                if (i + 1 < argc) setRange(config, word, argv[i + 1]);
                ++i;
            } else {
                setValue(config, pending->field, pending->word, word);
            }
            pending = nullptr;
            continue;
        }
        bool known = false;
        for (const Option& option : kOptions) {
            if (std::strcmp(word, option.word) != 0) continue;
            known = true;
            if (option.flag) {
                config.*option.flag = true;
            } else {
                pending = &option;
            }
            break;
        }
        if (!known && i > 0 && word[0] == '-') config.warnings.push_back("unknown option " + quoted(word) + " ignored");
    }
    // Checked once every word is read, since the last value wins.
    if (config.firstFrame < 0) config.errors.push_back("-first must be 0 or more");
    if (config.channel < 0) config.errors.push_back("-channel must be 1 or more");
    if (config.frameCount > 0 && static_cast<int64_t>(config.firstFrame) + config.frameCount - 1 > INT32_MAX)
        config.errors.push_back("-first plus -count goes beyond frame number 2147483647");
    return config;
}

std::string usageText() {
    std::string text = "usage: vanto -source PATTERN -output DIR -w W -h H -count N [options]\n";
    size_t column = 0;
    for (const Option& option : kOptions) column = std::max(column, std::strlen(option.word) + 1);
    for (const Option& option : kOptions) {
        if (std::strcmp(option.word, "--help") == 0) continue;  // named on the -help line
        text += "  " + std::string(option.word) + std::string(column - std::strlen(option.word), ' ') +
                (option.help ? option.help : "") + "\n";
    }
    return text;
}

int answerCommandLine(const RunConfig& config, int argc, std::ostream& out, std::ostream& errors) {
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
    for (const std::string& warning : config.warnings) errors << "vanto: warning: " << warning << '\n';
    for (const std::string& error : config.errors) errors << "vanto: " << error << '\n';
    errors << std::flush;
    return config.errors.empty() ? -1 : 1;
}

std::string versionText() { return "vanto 1.0.3.0 (2020/02/22)\n"; }

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
