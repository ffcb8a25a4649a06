#include "compute/program_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compute/compute_device.h"
#include "compute/host_kernels.h"
#include "compute/runtime_cache.h"
#include "model/records.h"
#include "run_fixture.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Bytes = std::vector<unsigned char>;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// --- the entries themselves ------------------------------------------------------------------

TEST(ProgramCacheEntry, StoredBinaryLoadsOnlyUnderItsOwnKey) {
    TempDir dir;
    const std::string folder = dir.file("deep/er/cache");  // made on the first store
    const Bytes binary = {0, 1, 2, 255, 7, 0, 9};
    ASSERT_TRUE(ProgramCache(folder, "device A", "device A source 1").store(binary));
    Bytes got;
    EXPECT_TRUE(ProgramCache(folder, "device A", "device A source 1").load(got));
    EXPECT_EQ(got, binary);
    // Same device, changed source: same entry name, refused; the new binary then replaces it.
    ProgramCache changed(folder, "device A", "device A source 2");
    EXPECT_EQ(changed.entryPath(), ProgramCache(folder, "device A", "").entryPath());
    EXPECT_FALSE(changed.load(got));
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(changed.store({42}));
    EXPECT_TRUE(changed.load(got));
    EXPECT_EQ(got, Bytes{42});
    EXPECT_FALSE(ProgramCache(folder, "device A", "device A source 1").load(got));
    // Another device has an entry of its own; nothing else is left in the folder.
    ProgramCache other(folder, "device B", "device B source 1");
    EXPECT_NE(other.entryPath(), changed.entryPath());
    EXPECT_FALSE(other.load(got));
    ASSERT_TRUE(other.store(binary));
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, 2) << "no temporary file is left behind";
}

TEST(ProgramCacheEntry, EveryDamagedEntryIsRefused) {
    TempDir dir;
    const ProgramCache cache(dir.path(), "device", "the key");
    Bytes binary(300);
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(cache.store(binary));
    const std::string whole = readAll(cache.entryPath());
    Bytes got;
    // Every single flipped byte, every cut, and a byte too many.
    for (size_t i = 0; i < whole.size(); ++i) {
        std::string bad = whole;
        bad[i] = static_cast<char>(bad[i] ^ 0x20);
        writeAll(cache.entryPath(), bad);
        EXPECT_FALSE(cache.load(got)) << "byte " << i << " flipped";
    }
    for (size_t length : {size_t{0}, size_t{5}, whole.size() / 2, whole.size() - 1}) {
        writeAll(cache.entryPath(), whole.substr(0, length));
        EXPECT_FALSE(cache.load(got)) << "cut to " << length;
    }
    writeAll(cache.entryPath(), whole + "x");
    EXPECT_FALSE(cache.load(got));
    writeAll(cache.entryPath(), whole);
    EXPECT_TRUE(cache.load(got));
    EXPECT_EQ(got, binary);
}

TEST(ProgramCacheEntry, LinksAreNeitherReadNorWrittenThrough) {
    TempDir dir, elsewhere;
    const ProgramCache cache(dir.path(), "device", "key");
    ASSERT_TRUE(ProgramCache(elsewhere.path(), "device", "key").store({1, 2, 3}));
    const std::string target = ProgramCache(elsewhere.path(), "device", "key").entryPath();
    const std::string before = readAll(target);
    ASSERT_EQ(::symlink(target.c_str(), cache.entryPath().c_str()), 0);
    Bytes got;
    EXPECT_FALSE(cache.load(got)) << "a valid entry behind a link is not read";
    ASSERT_TRUE(cache.store({9, 9}));
    EXPECT_EQ(readAll(target), before) << "the link's target is untouched";
    EXPECT_FALSE(fs::is_symlink(cache.entryPath()));
    EXPECT_TRUE(cache.load(got));
    EXPECT_EQ(got, (Bytes{9, 9}));
}

TEST(ProgramCacheEntry, AFolderThatCannotBeMadeOrNoFolderOnlyFails) {
    TempDir dir;
    writeAll(dir.file("plain_file"), "not a folder");
    const ProgramCache below(dir.file("plain_file") + "/vanto", "device", "key");
    EXPECT_FALSE(below.store({1}));
    Bytes got;
    EXPECT_FALSE(below.load(got));
    const ProgramCache none("", "device", "key");
    EXPECT_TRUE(none.entryPath().empty());
    EXPECT_FALSE(none.store({1}));
    EXPECT_FALSE(none.load(got));
}

// Sets environment variables for one scope and gives back their earlier values.
class ScopedEnvironment {
public:
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* was = std::getenv(name.c_str());
        saved_.push_back({name, was ? std::optional<std::string>(was) : std::nullopt});
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ProgramCacheEntry, TheFolderComesFromTheOverrideThenXdgThenHome) {
    ScopedEnvironment env;
    env.set("VANTO_CACHE_DIR", std::nullopt);
    env.set("XDG_CACHE_HOME", std::nullopt);
    env.set("HOME", "/home/someone");
    EXPECT_EQ(ProgramCache::defaultFolder(), "/home/someone/.cache/vanto");
    env.set("XDG_CACHE_HOME", "/var/cache/someone");
    EXPECT_EQ(ProgramCache::defaultFolder(), "/var/cache/someone/vanto");
    env.set("VANTO_CACHE_DIR", "/scratch/kernels");
    EXPECT_EQ(ProgramCache::defaultFolder(), "/scratch/kernels");
    env.set("VANTO_CACHE_DIR", "");
    EXPECT_EQ(ProgramCache::defaultFolder(), "") << "set but empty: no cache";
    env.set("VANTO_CACHE_DIR", std::nullopt);
    env.set("XDG_CACHE_HOME", std::nullopt);
    env.set("HOME", std::nullopt);
    EXPECT_EQ(ProgramCache::defaultFolder(), "");
}

// --- the runtime's own cache folder ---------------------------------------------------------

TEST(RuntimeCacheFolder, TheRuntimesFolderIsMadeAndAPrivateOneTakenWhenItCannotBe) {
    TempDir dir, tmp;
    ScopedEnvironment env;
    env.set("POCL_CACHE_DIR", std::nullopt);
    env.set("XDG_CACHE_HOME", std::nullopt);
    env.set("TMPDIR", tmp.path());
    // A home that does not exist yet: the folder is made, the environment left alone.
    env.set("HOME", dir.file("new_home"));
    {
        RuntimeCacheFolder folder;
        EXPECT_TRUE(folder.prepare());
        EXPECT_EQ(std::getenv("POCL_CACHE_DIR"), nullptr);
        EXPECT_TRUE(fs::is_directory(dir.file("new_home/.cache/pocl/kcache")));
    }
    EXPECT_TRUE(fs::is_directory(dir.file("new_home/.cache/pocl/kcache"))) << "the user's folder stays";
    // A home below a plain file: no folder can be made there, so a private one is used.
    writeAll(dir.file("plain_file"), "not a folder");
    env.set("HOME", dir.file("plain_file") + "/home");
    {
        RuntimeCacheFolder folder;
        EXPECT_TRUE(folder.prepare());
        const char* chosen = std::getenv("POCL_CACHE_DIR");
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(fs::path(chosen).parent_path(), fs::path(tmp.path()));
        EXPECT_TRUE(fs::is_directory(chosen));
        folder.release();
        EXPECT_EQ(std::getenv("POCL_CACHE_DIR"), nullptr);
        EXPECT_TRUE(fs::is_empty(tmp.path()));
    }
    // An unusable TMPDIR falls back to /tmp.
    env.set("TMPDIR", dir.file("plain_file") + "/tmp");
    {
        RuntimeCacheFolder folder;
        EXPECT_TRUE(folder.prepare());
        const char* chosen = std::getenv("POCL_CACHE_DIR");
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(fs::path(chosen).parent_path(), fs::path("/tmp"));
    }
    EXPECT_EQ(std::getenv("POCL_CACHE_DIR"), nullptr);
}

// --- the device with the cache ----------------------------------------------------------------

const std::string& kernelPath() {
    static const std::string path = (fs::path(VANTO_SOURCE_DIR) / "src" / "compute" / "kernel3.cl").string();
    return path;
}

// Opens a device on a 61 x 47 frame with the cache in folder, checks both kernels against the
// host versions on a random frame, and says whether the program came from the cache.
bool openAndCheck(const std::string& folder) {
    constexpr int32_t kW = 61, kH = 47;
    ComputeDevice device;
    device.setProgramCacheFolder(folder);
    std::ostringstream console;
    const Status opened = device.open(kernelPath(), kW, kH, console);
    EXPECT_TRUE(opened.ok()) << device.error();
    if (!opened.ok()) return false;
    EXPECT_EQ(console.str().find("\n", console.str().find("Device name : ")), console.str().size() - 1)
        << "nothing but the two names on the console: " << console.str();

    static const auto ws = testing::makeWorkspace(4, 4);
    std::mt19937 rng(77);
    std::vector<int32_t> prev(kW * kH), cur(kW * kH);
    for (auto* plane : {&prev, &cur}) {
        for (int32_t& v : *plane) v = rng() % 3 == 0 ? static_cast<int32_t>(rng() % 5) : -1;
    }
    std::vector<int32_t> hostA(kW * kH), hostB(kW * kH), devA(kW * kH, 7), devB(kW * kH, 7);
    addTwoHost(prev.data(), cur.data(), ws->tables, kW, kH, hostA.data(), hostB.data());
    EXPECT_TRUE(device.nearestLabelsAcrossFrames(prev.data(), cur.data(), ws->tables, devA.data(), devB.data()).ok());
    EXPECT_EQ(devA, hostA);
    EXPECT_EQ(devB, hostB);

    std::vector<int32_t> table(static_cast<size_t>(kCellWords) * kTableRecords, 0);
    for (int32_t k = 0; k < 40; ++k) {
        int32_t* rec = cellRecord(table.data(), k);
        rec[CellWord::centerX] = static_cast<int32_t>(rng() % kW);
        rec[CellWord::centerY] = static_cast<int32_t>(rng() % kH);
    }
    cellRecord(table.data(), 40)[CellWord::smallFlag] = kEndMarker;
    std::vector<int32_t> hostMap(kW * kH), devMap(kW * kH, 7);
    addOneHost(table.data(), kW, kH, hostMap.data());
    EXPECT_TRUE(device.nearestCellMap(table.data(), devMap.data()).ok());
    EXPECT_EQ(devMap, hostMap);
    return device.programFromCache();
}

// The one entry of the folder.
std::string onlyEntry(const std::string& folder) {
    std::string found;
    for (const auto& e : fs::directory_iterator(folder)) {
        EXPECT_TRUE(found.empty()) << "a second file " << e.path();
        found = e.path().string();
    }
    return found;
}

TEST(ComputeProgramCache, TheSecondOpenLoadsTheProgramAndComputesTheSame) {
    TempDir dir;
    const std::string folder = dir.file("cache");
    EXPECT_FALSE(openAndCheck(folder)) << "nothing to load the first time";
    ASSERT_TRUE(fs::exists(folder));
    const std::string entry = onlyEntry(folder);
    const std::string stored = readAll(entry);
    EXPECT_TRUE(openAndCheck(folder));
    EXPECT_EQ(readAll(entry), stored) << "a loaded entry is not rewritten";
    EXPECT_FALSE(openAndCheck("")) << "no folder: no cache";
}

TEST(ComputeProgramCache, ACorruptOrStaleEntryIsBuiltAndReplaced) {
    TempDir dir, other;
    const std::string folder = dir.file("cache");
    openAndCheck(folder);
    const std::string entry = onlyEntry(folder);
    const std::string good = readAll(entry);

    // An entry whose checks pass but whose binary the driver refuses: same key, garbage body.
    // The key is read back from the entry: after the magic line, its length and its bytes.
    const size_t magic = good.find('\n') + 1;
    uint64_t keyBytes = 0;
    for (int i = 0; i < 8; ++i) keyBytes |= uint64_t{static_cast<unsigned char>(good[magic + i])} << (8 * i);
    const std::string key = good.substr(magic + 8, keyBytes);
    const ProgramCache garbage(other.path(), "any", key);
    ASSERT_TRUE(garbage.store(Bytes(4096, 0x5a)));
    // A stale entry: another source for the same device.
    std::string stale = key;
    stale.back() = stale.back() == ' ' ? '\t' : ' ';
    const ProgramCache staleEntry(other.path(), "other", stale);
    ASSERT_TRUE(staleEntry.store(Bytes(good.begin(), good.end())));

    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"a flipped byte in the binary", [&] {
             std::string s = good;
             s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 1);
             return s;
         }()},
        {"a cut entry", good.substr(0, good.size() - 100)},
        {"an empty file", ""},
        {"a binary the driver refuses", readAll(garbage.entryPath())},
        {"an entry of another source", readAll(staleEntry.entryPath())},
    };
    for (const auto& [what, bytes] : damaged) {
        writeAll(entry, bytes);
        EXPECT_FALSE(openAndCheck(folder)) << what;
        EXPECT_EQ(onlyEntry(folder), entry) << what;
        EXPECT_TRUE(openAndCheck(folder)) << what << ": the entry was stored again";
    }
}

TEST(ComputeProgramCache, AFolderThatCannotBeWrittenStillOpens) {
    TempDir dir;
    writeAll(dir.file("plain_file"), "not a folder");
    EXPECT_FALSE(openAndCheck(dir.file("plain_file") + "/cache"));
    EXPECT_FALSE(openAndCheck(dir.file("plain_file") + "/cache"));
    // A folder without write permission (root may write anyway; then the cache just works).
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    openAndCheck(dir.file("locked"));
    if (::access(dir.file("locked").c_str(), W_OK) != 0) {
        EXPECT_TRUE(fs::is_empty(dir.file("locked")));
    }
    fs::permissions(dir.file("locked"), fs::perms::owner_all);
}

}  // namespace
}  // namespace vanto
