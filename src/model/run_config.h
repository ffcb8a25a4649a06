#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vanto {

// The run configuration: the values of the options, filled once from the command line
// (driver/option_table.h declares each option) and read-only afterwards. What the run derives
// from them (a stack's frame count) is kept apart, in the series plan.
struct RunConfig {
    std::string sourcePattern;  // printf pattern of the frame files, one integer conversion
    std::string outputDir;      // folder of the log, the reports and the bitmaps
    bool hasOutput = false;     // -output was given
    int32_t frameCount = 0;     // -count N as given; a stack without it is read whole
    int32_t frameWidth = 0;     // the window; without -w / -h it runs to frame 1's edge
    int32_t frameHeight = 0;
    bool hasWidth = false;      // -w was given
    bool hasHeight = false;     // -h was given
    int32_t originX = 0;
    int32_t originY = 0;
    int32_t smallCellArea = 0;
    int32_t threshold = 0;
    bool hasThreshold = false;  // -threshold was given (without it 0 is used, with a warning)
    bool drawCalculation = false;
    bool drawIds = false;
    bool drawVoronoi = false;
    bool showProgress = false;  // frames done, rate and time left on standard error
    bool quiet = false;         // -quiet: the per-frame console lines are left out (the log keeps them)

    // Frames as stored by microscopes.
    bool hasCount = false;       // -count was given (a stack without it is read whole)
    bool hasRange = false;       // -range LO HI: samples mapped onto 0..255
    double rangeLow = 0;
    double rangeHigh = 0;
    bool invert = false;         // -invert: segment 255 - gray
    int32_t firstFrame = 1;      // -first N: number of the first file (or page) read
    int32_t channel = 0;         // -channel C: the channel of a hyperstack, 1-based; 0 = none
    bool strict = false;         // -strict: the first unreadable frame ends the run
    bool showHelp = false;       // -help, --help
    bool showVersion = false;    // --version
    // Track exports: CTC label images and lineage into ctcDir (empty = off), the track and
    // event tables, and the calibration of their physical columns (0 = not given).
    std::string ctcDir;
    bool writeTracks = false;
    double pixelSize = 0;      // micrometres per pixel
    double frameInterval = 0;  // minutes between frames
    // Gap closing in the track outputs: a track that ends lost is joined to one that starts
    // without parents 1 .. closeGaps frames later within gapDistance pixels (0 = off).
    int32_t closeGaps = 0;
    double gapDistance = 20;
    // The per-cell table: -objects writes _objects.csv; its intensity columns come from the
    // analysed frame, from each -measure-channel C of a hyperstack (repeatable, in the order
    // given) and from the frames of -measure-source (numbered as -source; empty = none).
    bool writeObjects = false;
    std::vector<int32_t> measureChannels;
    std::string measureSource;
    int32_t threads = 0;  // -threads N: threads of the run; 0 (or below) for one per core
    // Cell options between segmentation and tracking; 0 = off.
    double smoothSigma = 0;   // -smooth SIGMA: Gaussian smoothing of the segmented gray
    double edgeCut = 0;       // -edge-cut F: cell pixels above F of the way to the ring cut off
    double splitDepth = 0;    // -split H: cells divided at necks of dynamic H pixels or more
    double splitGray = 0;     // -split-gray H: cells divided between dark points of dynamic H gray levels
    double minContrast = 0;   // -min-contrast C: cells of lower ring contrast dropped
    double halo = 0;          // -halo T: bright parts (T above the local mean) joined to the cells they touch
    int32_t haloCells = 0;    // -halo-cells A: with -halo, lone bright parts of A pixels or more become cells
    int32_t grow = 0;         // -grow K: cells grown by K pixels (K < 0: shrunk)
    int32_t minArea = 0;      // -min-area A: smaller cells dropped
    int32_t maxArea = 0;      // -max-area A: larger cells dropped
    bool keepDivisions = false;  // -keep-divisions: a cell's touching parts are not joined by the tracker
};

// Whether any cell option changes the cells after segmentation.
inline bool refinesCells(const RunConfig& c) {
    return c.edgeCut > 0 || c.splitDepth > 0 || c.splitGray > 0 || c.minContrast > 0 || c.halo > 0 || c.grow != 0 ||
           c.minArea > 0 || c.maxArea > 0;
}
// Whether segmentation needs the extension blocks of its scratch.
inline bool usesCellOptions(const RunConfig& c) { return c.smoothSigma > 0 || refinesCells(c); }

}  // namespace vanto
