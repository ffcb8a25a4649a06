// vanto_synth: writes a synthetic series of gray frames and prints the analyser options for it.
//   vanto_synth --out DIR [--frames N=20] [--width W=320] [--height H=240] [--cells K=40]
//               [--seed S=1] [--min-radius R=6] [--max-radius R=14] [--format png|tiff]
//               [--prefix NAME=frame] [--noise A=3] [--debris N=0] [--divisions N=0]
//               [--labels DIR]
// --labels writes the true cells in the Cell Tracking Challenge layout: DIR/TRA/man_trackT.tif
// and DIR/SEG/man_segT.tif (16-bit label images, T = frame - 1, three digits or more) and
// DIR/TRA/man_track.txt (number, first and last frame T, parent), for scripts/vanto-score.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "synthetic_series.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: vanto_synth --out DIR [--frames N] [--width W] [--height H] [--cells K] [--seed S]\n"
                 "                   [--min-radius R] [--max-radius R] [--format png|tiff] [--prefix NAME]\n"
                 "                   [--noise A] [--debris N] [--divisions N] [--labels DIR]\n");
}

bool parseInt(const char* text, long long lo, long long hi, long long& value) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
    value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    vanto::SeriesParams params;
    std::string outDir;
    std::string labelDir;
    std::string prefix = "frame";
    std::string format = "png";
    long long frames = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vanto_synth: %s needs a value\n", option.c_str());
            usage();
            return 2;
        }
        const char* value = argv[++i];
        long long number = 0;
        bool ok = true;
        if (option == "--out") {
            outDir = value;
        } else if (option == "--labels") {
            labelDir = value;
        } else if (option == "--prefix") {
            prefix = value;
        } else if (option == "--format") {
            format = value;
            ok = format == "png" || format == "tiff";
        } else if (option == "--seed") {
            ok = parseInt(value, 0, INT64_MAX, number);
            params.seed = static_cast<uint64_t>(number);
        } else {
            long long lo = 1;
            long long hi = 100000;
            int32_t* field = nullptr;
            if (option == "--width") {
                field = &params.width;
            } else if (option == "--height") {
                field = &params.height;
            } else if (option == "--cells") {
                field = &params.cellCount;
                lo = 0;
            } else if (option == "--min-radius") {
                field = &params.minRadius;
            } else if (option == "--max-radius") {
                field = &params.maxRadius;
            } else if (option == "--noise") {
                field = &params.noise;
                lo = 0;
                hi = 40;
            } else if (option == "--debris") {
                field = &params.debris;
                lo = 0;
            } else if (option == "--divisions") {
                field = &params.divisions;
                lo = 0;
            } else if (option != "--frames") {
                std::fprintf(stderr, "vanto_synth: unknown option %s\n", option.c_str());
                usage();
                return 2;
            }
            ok = parseInt(value, lo, hi, number);
            if (ok && field) *field = static_cast<int32_t>(number);
            if (ok && !field) frames = number;
        }
        if (!ok) {
            std::fprintf(stderr, "vanto_synth: bad value %s for %s\n", value, option.c_str());
            return 2;
        }
    }
    if (outDir.empty()) {
        usage();
        return 2;
    }
    if (params.maxRadius < params.minRadius) params.maxRadius = params.minRadius;
    params.frameCount = static_cast<int32_t>(frames);
    const std::vector<int32_t> parents = vanto::syntheticParents(params);
    const size_t cellNumbers = parents.size() - 1;
    if (!labelDir.empty() && cellNumbers > 65535) {
        std::fprintf(stderr, "vanto_synth: --labels holds at most 65,535 cells\n");
        return 2;
    }
    for (const std::string& dir : {outDir, labelDir + "/TRA", labelDir + "/SEG"}) {
        if (dir != outDir && labelDir.empty()) continue;
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        if (error) {
            std::fprintf(stderr, "vanto_synth: cannot create %s: %s\n", dir.c_str(), error.message().c_str());
            return 1;
        }
    }

    const char* extension = format == "png" ? "png" : "tif";
    std::vector<uint8_t> frame(static_cast<size_t>(params.width) * static_cast<size_t>(params.height));
    std::vector<uint16_t> labels(labelDir.empty() ? 0 : frame.size());
    // First and last frame (T) in which each cell number shows.
    std::vector<long long> firstSeen(cellNumbers + 1, -1), lastSeen(cellNumbers + 1, -1);
    for (long long k = 1; k <= frames; ++k) {
        vanto::renderSyntheticFrame(params, static_cast<int32_t>(k), frame.data(),
                                    labelDir.empty() ? nullptr : labels.data());
        if (!labelDir.empty()) {
            for (uint16_t label : labels) {
                if (label == 0) continue;
                if (firstSeen[label] < 0) firstSeen[label] = k - 1;
                lastSeen[label] = k - 1;
            }
            char name[64];
            for (const char* kind : {"TRA/man_track", "SEG/man_seg"}) {
                std::snprintf(name, sizeof name, "/%s%03lld.tif", kind, k - 1);
                const std::string path = labelDir + name;
                if (!vanto::writeLabelTiff(path.c_str(), params.width, params.height, labels.data())) {
                    std::fprintf(stderr, "vanto_synth: cannot write %s\n", path.c_str());
                    return 1;
                }
            }
        }
        char name[64];
        std::snprintf(name, sizeof name, "_%04lld.%s", k, extension);
        const std::string path = outDir + "/" + prefix + name;
        const bool written = format == "png"
                                 ? vanto::writeGrayPng(path.c_str(), params.width, params.height, frame.data())
                                 : vanto::writeGrayTiff(path.c_str(), params.width, params.height, frame.data());
        if (!written) {
            std::fprintf(stderr, "vanto_synth: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    if (!labelDir.empty()) {
        const std::string path = labelDir + "/TRA/man_track.txt";
        std::FILE* file = std::fopen(path.c_str(), "w");
        bool ok = file != nullptr;
        for (size_t id = 1; ok && id <= cellNumbers; ++id) {
            if (firstSeen[id] < 0) continue;
            const int32_t parent = parents[id] > 0 && firstSeen[parents[id]] >= 0 ? parents[id] : 0;
            ok = std::fprintf(file, "%zu %lld %lld %d\n", id, firstSeen[id], lastSeen[id], parent) > 0;
        }
        if (file) ok = std::fclose(file) == 0 && ok;
        if (!ok) {
            std::fprintf(stderr, "vanto_synth: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("-source %s/%s_^04d.%s -w %d -h %d -count %lld -threshold %d -size %d\n", outDir.c_str(),
                prefix.c_str(), extension, params.width, params.height, frames, vanto::suggestedThreshold(params),
                vanto::suggestedSmallCellArea(params));
    return 0;
}
