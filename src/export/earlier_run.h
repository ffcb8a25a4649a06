#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace vanto {

// The files that the run record "_run.json" of an earlier run in the output folder lists:
// its whole-run files, its frame-by-frame files and the earlier files it kept. A new run into
// the folder removes them first, so that the folder holds one run. Only names inside the
// folder are taken: an absolute name, one with "..", "." or an empty part is set aside.
struct EarlierRun {
    bool found = false;              // the folder holds a record that could be read
    std::vector<std::string> files;  // relative names inside the folder
    size_t setAside = 0;             // listed names that leave the folder: never touched
};

// Reads dir/_run.json (not through a link, at most 64 MiB, at most kMaxEarlierFiles names);
// a missing or unreadable record lists nothing.
EarlierRun readEarlierRun(const std::string& dir);
inline constexpr size_t kMaxEarlierFiles = 1'000'000;

// dir/name for each name, for comparing with what a folder holds.
std::vector<std::string> earlierPaths(const std::string& dir, const EarlierRun& earlier);

// Removes each listed file that is a plain file, looking up every part of its name below dir
// without following links; links, folders and anything else stay. Returns the number removed.
size_t removeEarlierFiles(const std::string& dir, const EarlierRun& earlier);

}  // namespace vanto
