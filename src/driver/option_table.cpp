#include "driver/option_table.h"

#include "image/gray_mapping.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vanto {

namespace {

constexpr OptionEntry flag(const char* word, bool RunConfig::*member, const char* help) {
    OptionEntry o{word, OptionKind::flag, help, word};
    o.flag = member;
    return o;
}

// A switch that asks for an answer instead of a run: not recorded.
constexpr OptionEntry answer(const char* word, bool RunConfig::*member, const char* help) {
    OptionEntry o = flag(word, member, help);
    o.record = nullptr;
    return o;
}

constexpr OptionEntry integer(const char* word, int32_t RunConfig::*member, const char* help,
                             OptionRange range = {}) {
    OptionEntry o{word, OptionKind::integer, help, word};
    o.integer = member;
    o.range = range;
    return o;
}

constexpr OptionEntry real(const char* word, double RunConfig::*member, const char* help, OptionRange range) {
    OptionEntry o{word, OptionKind::real, help, word};
    o.real = member;
    o.range = range;
    return o;
}

constexpr OptionEntry text(const char* word, std::string RunConfig::*member, const char* help) {
    OptionEntry o{word, OptionKind::text, help, word};
    o.text = member;
    return o;
}

// An integer option that may be given more than once; every value is kept, in order.
constexpr OptionEntry repeated(const char* word, std::vector<int32_t> RunConfig::*member, const char* help,
                               OptionRange range) {
    OptionEntry o{word, OptionKind::integers, help, word};
    o.list = member;
    o.range = range;
    return o;
}

constexpr OptionEntry given(OptionEntry o, bool RunConfig::*member) {
    o.given = member;
    return o;
}

constexpr OptionEntry warnAbsent(OptionEntry o, bool RunConfig::*member, const char* warning) {
    o.given = member;
    o.absent = warning;
    return o;
}

constexpr OptionEntry withCarets(OptionEntry o) {
    o.carets = true;
    return o;
}

constexpr OptionEntry pair(const char* word, double RunConfig::*low, double RunConfig::*high,
                          bool RunConfig::*set, const char* help) {
    OptionEntry o{word, OptionKind::pair, help, word};
    o.real = low;
    o.high = high;
    o.given = set;
    return o;
}

constexpr double kMost = std::numeric_limits<double>::max();

const OptionEntry kOptionTable[] = {
    integer("-x", &RunConfig::originX, "X        left edge of the analysed window in the frame (default 0)"),
    integer("-y", &RunConfig::originY, "Y        top edge of the analysed window (default 0)"),
    given(integer("-w", &RunConfig::frameWidth, "W        width of the analysed window in pixels (default: to the image's edge)"),
          &RunConfig::hasWidth),
    given(integer("-h", &RunConfig::frameHeight, "H        height of the analysed window in pixels (default: to the image's edge)"),
          &RunConfig::hasHeight),
    given(integer("-count", &RunConfig::frameCount, "N        number of frames to analyse (default: every consecutive frame; a stack: all pages)"),
          &RunConfig::hasCount),
    integer("-size", &RunConfig::smallCellArea, "A        area below which a cell counts as small"),
    warnAbsent(integer("-threshold", &RunConfig::threshold, "T        depth threshold of the segmentation"),
               &RunConfig::hasThreshold, "no -threshold given: threshold 0 is used"),
    withCarets(text("-source", &RunConfig::sourcePattern,
                    "PATTERN  frame files, e.g. f_%04d.tif (or ^04d), or one multi-page TIFF")),
    given(text("-output", &RunConfig::outputDir, "DIR      existing folder for the log, the reports and the bitmaps"),
          &RunConfig::hasOutput),
    flag("-id", &RunConfig::drawIds, "         draw cell numbers into the calculation bitmaps"),
    flag("-image", &RunConfig::drawCalculation, "         write a calculation bitmap per frame"),
    flag("-voronoi", &RunConfig::drawVoronoi, "         write a Voronoi bitmap per frame"),
    pair("-range", &RunConfig::rangeLow, &RunConfig::rangeHigh, &RunConfig::hasRange,
         "LO HI    map samples LO..HI onto gray 0..255 (16-bit and float frames)"),
    flag("-invert", &RunConfig::invert, "         analyse 255 - gray: bright cells on a dark background"),
    integer("-first", &RunConfig::firstFrame, "N        number of the first frame file or page read (default 1)",
            {0, kMost, "-first must be 0 or more"}),
    integer("-channel", &RunConfig::channel, "C        channel of a multi-channel stack, from 1",
            {0, kMost, "-channel must be 1 or more"}),
    real("-smooth", &RunConfig::smoothSigma,
         "SIGMA    Gaussian smoothing (pixels) of the frame before segmentation: noisy frames",
         {0, 10, "-smooth must be 0 to 10 pixels"}),
    real("-edge-cut", &RunConfig::edgeCut,
         "F        cut each cell's pixels brighter than F of the way from its dark part to its rim: soft edges",
         {0, 1, "-edge-cut must be 0 to 1"}),
    real("-split", &RunConfig::splitDepth,
         "H        divide touching cells where the distance to the edge has maxima H pixels deep",
         {0, 100, "-split must be 0 to 100 pixels"}),
    real("-split-gray", &RunConfig::splitGray,
         "H        divide touching cells between dark points H gray levels deep in the smoothed gray",
         {0, 255, "-split-gray must be 0 to 255 gray levels"}),
    real("-min-contrast", &RunConfig::minContrast,
         "C        drop cells whose rim is less than C gray levels brighter than their dark part: debris",
         {0, 255, "-min-contrast must be 0 to 255 gray levels"}),
    real("-halo", &RunConfig::halo,
         "T        join to each cell the bright parts touching it, T gray levels above the local mean: phase contrast",
         {0, 255, "-halo must be 0 to 255 gray levels"}),
    integer("-halo-cells", &RunConfig::haloCells,
            "A        with -halo: bright parts of A pixels or more touching no cell become cells",
            {0, kMost, "-halo-cells must be 0 or more"}),
    integer("-grow", &RunConfig::grow, "K        grow cells by K pixels into free ground (K < 0: shrink them)",
            {-20, 20, "-grow must be -20 to 20 pixels"}),
    integer("-min-area", &RunConfig::minArea, "A        drop cells of fewer than A pixels (0: none)",
            {0, kMost, "-min-area must be 0 or more"}),
    integer("-max-area", &RunConfig::maxArea, "A        drop cells of more than A pixels (0: none)",
            {0, kMost, "-max-area must be 0 or more"}),
    flag("-keep-divisions", &RunConfig::keepDivisions,
         "         keep apart the touching parts of a cell of the frame before (with -split, -split-gray)"),
    flag("-strict", &RunConfig::strict, "         stop with status 1 at the first unreadable frame"),
    answer("-help", &RunConfig::showHelp, "         print this text (also --help)"),
    answer("--help", &RunConfig::showHelp, nullptr),
    answer("--version", &RunConfig::showVersion, "         print the version"),
    flag("-progress", &RunConfig::showProgress, "         frames done, rate and time left on standard error"),
    flag("-quiet", &RunConfig::quiet, "         leave the per-frame lines off the console (the log keeps them)"),
    text("-ctc", &RunConfig::ctcDir, "DIR      write Cell Tracking Challenge label images and res_track.txt into DIR"),
    flag("-tracks", &RunConfig::writeTracks, "         write the track table _tracks.csv and the event table _events.csv"),
    real("-pixel-size", &RunConfig::pixelSize, "UM       micrometres per pixel: physical columns in the track outputs",
         {0, kMost, "-pixel-size must be a positive number of micrometres per pixel"}),
    real("-frame-interval", &RunConfig::frameInterval,
         "MIN      minutes between frames: time columns in the track outputs",
         {0, kMost, "-frame-interval must be a positive number of minutes"}),
    integer("-close-gaps", &RunConfig::closeGaps,
            "G        join a track that ends lost to one that starts 1..G frames later nearby (track outputs)",
            {0, kMost, "-close-gaps must be 0 or more frames"}),
    real("-gap-distance", &RunConfig::gapDistance,
         "D        with -close-gaps: largest distance in pixels across a gap (default 20)",
         {0, kMost, "-gap-distance must be 0 or more pixels"}),
    integer("-threads", &RunConfig::threads, "N        threads of the run (default: one per core)"),
    flag("-objects", &RunConfig::writeObjects,
         "         write _objects.csv: one row per cell and frame with geometry, motion and intensities"),
    repeated("-measure-channel", &RunConfig::measureChannels,
             "C        with -objects: also the intensities of channel C of the stack (repeatable)",
             {1, kMost, "-measure-channel must be 1 or more"}),
    text("-measure-source", &RunConfig::measureSource,
         "PATTERN  with -objects: also the intensities of these frames (numbered as -source)"),
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

// A decimal number as a whole, finite; false otherwise. The program never changes the C
// locale: the point is '.'.
bool realValue(const char* word, double& value) {
    char* end = nullptr;
    value = std::strtod(word, &end);
    return end != word && *end == '\0' && std::isfinite(value);
}

// False, with an error, for a value beyond 32 bits.
bool readInt32(const OptionEntry& option, const char* word, int32_t& value, std::vector<std::string>& warnings,
               std::vector<std::string>& errors) {
    const NumberReading r = readNumber(word);
    if (r.overflow || r.value < INT32_MIN || r.value > INT32_MAX) {
        errors.push_back(std::string(option.word) + " " + quoted(word) +
                         " does not fit a 32-bit signed integer (-2147483648 to 2147483647)");
        return false;
    }
    if (!r.whole)
        warnings.push_back(std::string(option.word) + " " + quoted(word) + " is not a number; read as " +
                           std::to_string(r.value));
    value = static_cast<int32_t>(r.value);
    return true;
}

void readInteger(const OptionEntry& option, const char* word, RunConfig& config, std::vector<std::string>& warnings,
                 std::vector<std::string>& errors) {
    int32_t value = 0;
    if (readInt32(option, word, value, warnings, errors)) config.*option.integer = value;
}

void readPair(const OptionEntry& option, const char* low, const char* high, RunConfig& config,
              std::vector<std::string>& errors) {
    double lo = 0;
    double hi = 0;
    const std::string words = std::string(option.word) + " " + quoted(low) + " " + quoted(high);
    if (!realValue(low, lo) || !realValue(high, hi)) {
        errors.push_back(words + " must be two finite numbers LO HI");
        return;
    }
    if (!(lo < hi)) {
        errors.push_back(words + " must have LO below HI");
        return;
    }
    if (std::string why = rangeSpanProblem(lo, hi); !why.empty()) {
        errors.push_back(words + ": " + why);
        return;
    }
    config.*option.real = lo;
    config.*option.high = hi;
}

std::string rewriteCarets(const char* word) {
    std::string pattern = word;
    for (size_t i = 0; i < pattern.size() && i < 256; ++i) {
        if (pattern[i] == '^') pattern[i] = '%';
    }
    return pattern;
}

// The value an option's range is checked on.
double checkedValue(const OptionEntry& option, const RunConfig& config) {
    return option.kind == OptionKind::integer ? config.*option.integer : config.*option.real;
}

}  // namespace

std::span<const OptionEntry> optionTable() { return kOptionTable; }

const OptionEntry* findOption(const char* word) {
    for (const OptionEntry& option : kOptionTable) {
        if (std::strcmp(word, option.word) == 0) return &option;
    }
    return nullptr;
}

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Levenshtein distance of two words, letter case ignored.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t k = 0; k <= b.size(); ++k) row[k] = k;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t k = 1; k <= b.size(); ++k) {
            const size_t above = row[k];
            row[k] = std::min({row[k] + 1, row[k - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[k - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const OptionEntry* nearestOption(const char* word) {
    const std::string given = std::string(word).substr(0, 64);
    const OptionEntry* nearest = nullptr;
    size_t best = 0;
    for (const OptionEntry& option : kOptionTable) {
        const size_t distance = editDistance(given, option.word);
        if (!nearest || distance < best) {
            nearest = &option;
            best = distance;
        }
    }
    // Close enough to be a slip: a third of the option's letters, at least two.
    const size_t allowed = nearest ? std::max<size_t>(2, std::strlen(nearest->word) / 3) : 0;
    return nearest && best <= allowed ? nearest : nullptr;
}

int valueWords(const OptionEntry& option) {
    return option.kind == OptionKind::flag ? 0 : option.kind == OptionKind::pair ? 2 : 1;
}

void readOptionValue(const OptionEntry& option, const char* const* values, RunConfig& config,
                     std::vector<std::string>& warnings, std::vector<std::string>& errors) {
    switch (option.kind) {
        case OptionKind::flag: config.*option.flag = true; return;
        case OptionKind::integer: readInteger(option, values[0], config, warnings, errors); break;
        case OptionKind::real: {
            double value = 0;
            config.*option.real = realValue(values[0], value) ? value : std::numeric_limits<double>::quiet_NaN();
            break;
        }
        case OptionKind::pair: {
            const size_t before = errors.size();
            readPair(option, values[0], values[1], config, errors);
            if (errors.size() != before) return;
            break;
        }
        case OptionKind::text: config.*option.text = option.carets ? rewriteCarets(values[0]) : values[0]; break;
        case OptionKind::integers: {
            int32_t value = 0;
            if (!readInt32(option, values[0], value, warnings, errors)) return;
            (config.*option.list).push_back(value);
            break;
        }
    }
    if (option.given) config.*option.given = true;
}

std::vector<std::string> optionRefusals(const RunConfig& config) {
    std::vector<std::string> refusals;
    for (const OptionEntry& option : kOptionTable) {
        if (!option.range.refusal) continue;
        if (option.kind == OptionKind::integers) {
            for (const int32_t value : config.*option.list) {
                if (value < option.range.low || value > option.range.high) {
                    refusals.push_back(option.range.refusal);
                    break;
                }
            }
            continue;
        }
        const double value = checkedValue(option, config);
        if (!(value >= option.range.low && value <= option.range.high)) refusals.push_back(option.range.refusal);
    }
    if (config.haloCells > 0 && config.halo <= 0)
        refusals.push_back("-halo-cells makes cells of bright parts: give -halo too");
    if (config.closeGaps > 0 && !config.writeTracks && config.ctcDir.empty())
        refusals.push_back("-close-gaps joins tracks in the track outputs: give -tracks or -ctc too");
    if (config.frameCount > 0 && static_cast<int64_t>(config.firstFrame) + config.frameCount - 1 > INT32_MAX)
        refusals.push_back("-first plus -count goes beyond frame number 2147483647");
    return refusals;
}

std::vector<std::string> absentOptionWarnings(const RunConfig& config) {
    std::vector<std::string> warnings;
    for (const OptionEntry& option : kOptionTable) {
        if (option.absent && !(config.*option.given)) warnings.push_back(option.absent);
    }
    return warnings;
}

nlohmann::ordered_json recordedOptions(const RunConfig& config) {
    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    for (const OptionEntry& option : kOptionTable) {
        if (!option.record) continue;
        nlohmann::ordered_json& value = options[option.record];
        switch (option.kind) {
            case OptionKind::flag: value = config.*option.flag; break;
            case OptionKind::integer: value = config.*option.integer; break;
            case OptionKind::real: value = config.*option.real; break;
            case OptionKind::pair:
                if (config.*option.given) value = nlohmann::ordered_json::array({config.*option.real, config.*option.high});
                break;
            case OptionKind::text: value = config.*option.text; break;
            case OptionKind::integers: value = config.*option.list; break;
        }
    }
    return options;
}

}  // namespace vanto
