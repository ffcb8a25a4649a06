#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vanto {

// Built kernel programs kept between runs, so that a run on a device it has seen skips the
// build. One entry a device: its file name comes from the device's identity (platform,
// device, driver), and the entry holds the whole key (that identity, the build options and the
// kernel source) and a checksum of the binary. An entry of another key (a changed source or
// driver) or one that fails its checks is not loaded; the caller then builds from source and
// stores the new binary over it.
//
// Entries are written to a fresh temporary file in the folder and renamed over the old entry,
// so a reader sees a whole entry or none, and a link planted at the entry's name is replaced,
// never followed; reads refuse links too. Every failure to read or write only means "build".
class ProgramCache {
public:
    // The folder of the cache: VANTO_CACHE_DIR when set (empty: no cache), else
    // $XDG_CACHE_HOME/vanto, else $HOME/.cache/vanto; empty when none of them is set.
    static std::string defaultFolder();

    // folder: where entries live (empty: nothing is read or written); identity: what the
    // entry's name is made from; key: everything the binary depends on, identity included.
    ProgramCache(std::string folder, const std::string& identity, std::string key);

    // The binary of the entry when it exists, is a regular file, holds this key and passes
    // its checksum; false otherwise.
    bool load(std::vector<unsigned char>& binary) const;
    // Makes the folder (and its parents) when missing and replaces the entry atomically.
    // False when anything fails; no partial file is left behind.
    bool store(const std::vector<unsigned char>& binary) const;

    // The entry's path (empty when there is no folder).
    const std::string& entryPath() const { return entry_; }

private:
    std::string folder_;
    std::string key_;
    std::string entry_;
};

// 64-bit FNV-1a of bytes, continuing from seed.
uint64_t fnv1a(const void* data, size_t bytes, uint64_t seed = 0xcbf29ce484222325ULL);

}  // namespace vanto
