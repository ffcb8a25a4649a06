// vanto_synth: writes a synthetic series of gray frames and prints the analyser options for it.
//   vanto_synth --out DIR [--frames N=20] [--width W=320] [--height H=240] [--cells K=40]
//               [--seed S=1] [--min-radius R=6] [--max-radius R=14] [--format png|tiff]
//               [--prefix NAME=frame]
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
                 "                   [--min-radius R] [--max-radius R] [--format png|tiff] [--prefix NAME]\n");
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
    std::error_code error;
    std::filesystem::create_directories(outDir, error);
    if (error) {
        std::fprintf(stderr, "vanto_synth: cannot create %s: %s\n", outDir.c_str(), error.message().c_str());
        return 1;
    }

    const char* extension = format == "png" ? "png" : "tif";
    std::vector<uint8_t> frame(static_cast<size_t>(params.width) * static_cast<size_t>(params.height));
    for (long long k = 1; k <= frames; ++k) {
        vanto::renderSyntheticFrame(params, static_cast<int32_t>(k), frame.data());
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
    std::printf("-source %s/%s_^04d.%s -w %d -h %d -count %lld -threshold %d -size %d\n", outDir.c_str(),
                prefix.c_str(), extension, params.width, params.height, frames, vanto::suggestedThreshold(params),
                vanto::suggestedSmallCellArea(params));
    return 0;
}
