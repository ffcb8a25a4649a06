#include "compute/compute_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "compute/host_kernels.h"
#include "model/records.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

const std::string& kernelPath() {
    static const std::string path =
        (std::filesystem::path(VANTO_SOURCE_DIR) / "src" / "compute" / "kernel3.cl").string();
    return path;
}

const NeighbourhoodTables& sortedTables() {
    static const auto ws = testing::makeWorkspace(4, 4);
    return ws->tables;
}

// One opened device per frame size, shared by the tests of that size (opening builds the
// program, which is slow on the CPU platform); released before the platform unloads.
class DeviceCache : public ::testing::Environment {
public:
    static ComputeDevice* get(int32_t width, int32_t height) {
        auto& slot = devices()[{width, height}];
        if (!slot) {
            auto device = std::make_unique<ComputeDevice>();
            std::ostringstream console;
            if (!device->open(kernelPath(), width, height, console).ok()) {
                ADD_FAILURE() << device->error() << "\n" << console.str();
                return nullptr;
            }
            slot = std::move(device);
        }
        return slot.get();
    }
    void TearDown() override { devices().clear(); }

private:
    static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<ComputeDevice>>& devices() {
        static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<ComputeDevice>> map;
        return map;
    }
};
[[maybe_unused]] ::testing::Environment* const kDeviceCache = ::testing::AddGlobalTestEnvironment(new DeviceCache);

using Plane = std::vector<int32_t>;

struct Frame {
    int32_t width;
    int32_t height;
    Plane plane(int32_t value = -1) const { return Plane(static_cast<size_t>(width) * height, value); }
    int32_t& at(Plane& p, int32_t x, int32_t y) const { return p[static_cast<size_t>(y) * width + x]; }
    int32_t get(const Plane& p, int32_t x, int32_t y) const { return p[static_cast<size_t>(y) * width + x]; }
};

// Results of addtwo from the host version and from the device, to be checked alike.
struct AddTwoResults {
    Plane hostA, hostB, deviceA, deviceB;
};

AddTwoResults nearestLabelsBoth(const Frame& f, const Plane& prev, const Plane& cur) {
    AddTwoResults r{f.plane(7), f.plane(7), f.plane(7), f.plane(7)};
    addTwoHost(prev.data(), cur.data(), sortedTables(), f.width, f.height, r.hostA.data(), r.hostB.data());
    ComputeDevice* device = DeviceCache::get(f.width, f.height);
    if (device) {
        EXPECT_TRUE(device->nearestLabelsAcrossFrames(prev.data(), cur.data(), sortedTables(), r.deviceA.data(), r.deviceB.data()).ok())
            << device->error();
    }
    return r;
}

std::vector<int32_t> emptyTable() {
    std::vector<int32_t> table(static_cast<size_t>(kCellWords) * kTableRecords, 0);
    cellRecord(table.data(), 0)[CellWord::smallFlag] = -1;
    return table;
}

void setCell(std::vector<int32_t>& table, int32_t k, int32_t cx, int32_t cy, int32_t smallFlag = 0) {
    int32_t* rec = cellRecord(table.data(), k);
    rec[CellWord::smallFlag] = smallFlag;
    rec[CellWord::centerX] = cx;
    rec[CellWord::centerY] = cy;
}

void setEndMarker(std::vector<int32_t>& table, int32_t k) { cellRecord(table.data(), k)[CellWord::smallFlag] = -1; }

// Nearest-cell maps from the host version and from the device.
std::pair<Plane, Plane> nearestCellMapBoth(const Frame& f, const std::vector<int32_t>& table) {
    Plane host = f.plane(7);
    Plane device = f.plane(7);
    addOneHost(table.data(), f.width, f.height, host.data());
    if (ComputeDevice* d = DeviceCache::get(f.width, f.height)) {
        EXPECT_TRUE(d->nearestCellMap(table.data(), device.data()).ok()) << d->error();
    }
    return {host, device};
}

// Checks both maps against expected(x, y).
template <class Expected>
void expectMap(const Frame& f, const std::pair<Plane, Plane>& maps, Expected expected) {
    const char* names[2] = {"host", "device"};
    const Plane* planes[2] = {&maps.first, &maps.second};
    for (int i = 0; i < 2; ++i) {
        int wrong = 0;
        for (int32_t y = 0; y < f.height; ++y) {
            for (int32_t x = 0; x < f.width; ++x) {
                const int32_t got = (*planes[i])[static_cast<size_t>(y) * f.width + x];
                if (got != expected(x, y) && ++wrong <= 5) {
                    ADD_FAILURE() << names[i] << " at (" << x << ", " << y << "): " << got << " != " << expected(x, y);
                }
            }
        }
        EXPECT_EQ(wrong, 0) << names[i];
    }
}

constexpr Frame kHand{33, 17};

// --- addtwo, hand-derived ---------------------------------------------------------------

TEST(ComputeAddTwo, CellPixelOfBothFramesGetsTheOtherFramesLabel) {
    Plane prev = kHand.plane(), cur = kHand.plane();
    kHand.at(prev, 4, 4) = 3;
    kHand.at(cur, 4, 4) = 8;
    kHand.at(cur, 4, 3) = 9;  // a nearer-looking neighbour must not win over the same place
    const AddTwoResults r = nearestLabelsBoth(kHand, prev, cur);
    for (const Plane* a : {&r.hostA, &r.deviceA}) EXPECT_EQ(kHand.get(*a, 4, 4), 8);
    for (const Plane* b : {&r.hostB, &r.deviceB}) {
        EXPECT_EQ(kHand.get(*b, 4, 4), 3);
        EXPECT_EQ(kHand.get(*b, 4, 3), 3);
    }
}

TEST(ComputeAddTwo, EquallyNearLabelsAreTakenInSortedOffsetOrder) {
    // Around the previous pixel (5, 5): each step removes the winner of the step before.
    // Offsets in sorted order: 1 (0,-1), 2 (0,1), 3 (-1,0), 4 (1,0), 5 (-1,1), 6 (-1,-1),
    // 7 (1,-1), 8 (1,1), 9 (0,-2), 10 (-2,0), 13 (-1,2), 14 (-2,-1).
    struct Site {
        int32_t dx, dy, label;
    };
    const Site sites[] = {{0, -1, 10}, {0, 1, 11}, {-1, 0, 12}, {1, 0, 13},  {-1, 1, 20}, {-1, -1, 21},
                          {1, -1, 22}, {1, 1, 23}, {0, -2, 30}, {-2, 0, 31}, {-1, 2, 40}, {-2, -1, 41}};
    Plane prev = kHand.plane();
    kHand.at(prev, 5, 5) = 0;
    const int n = static_cast<int>(std::size(sites));
    for (int first = 0; first < n; ++first) {
        Plane cur = kHand.plane();
        for (int s = first; s < n; ++s) kHand.at(cur, 5 + sites[s].dx, 5 + sites[s].dy) = sites[s].label;
        const AddTwoResults r = nearestLabelsBoth(kHand, prev, cur);
        for (Plane a : {r.hostA, r.deviceA}) {
            EXPECT_EQ(kHand.at(a, 5, 5), sites[first].label) << "from site " << first;
            kHand.at(a, 5, 5) = -1;
            EXPECT_EQ(a, kHand.plane()) << "A is -1 wherever the previous frame has no cell";
        }
        for (const Plane& b : {r.hostB, r.deviceB}) {
            for (int32_t i = 0; i < static_cast<int32_t>(b.size()); ++i) EXPECT_EQ(b[i], cur[i] >= 0 ? 0 : -1);
        }
    }
}

TEST(ComputeAddTwo, SearchReachesTenPixelsAndNeverWraps) {
    Plane prev = kHand.plane(), cur = kHand.plane();
    kHand.at(prev, 0, 1) = 4;  // its left neighbour would wrap onto (32, 0)
    kHand.at(cur, 32, 0) = 9;
    kHand.at(prev, 22, 16) = 5;  // (32, 6) is 10 pixels off in both x and y
    kHand.at(cur, 32, 6) = 6;
    kHand.at(prev, 0, 16) = 7;  // (11, 16) is 11 pixels off: outside the window
    kHand.at(cur, 11, 16) = 8;
    const AddTwoResults r = nearestLabelsBoth(kHand, prev, cur);
    for (const Plane* a : {&r.hostA, &r.deviceA}) {
        EXPECT_EQ(kHand.get(*a, 0, 1), -1);
        EXPECT_EQ(kHand.get(*a, 22, 16), 6);
        EXPECT_EQ(kHand.get(*a, 0, 16), -1);
    }
    for (const Plane* b : {&r.hostB, &r.deviceB}) {
        EXPECT_EQ(kHand.get(*b, 32, 0), -1);
        EXPECT_EQ(kHand.get(*b, 32, 6), 5);
        EXPECT_EQ(kHand.get(*b, 11, 16), -1);
    }
}

TEST(ComputeAddTwo, EveryNegativeValueIsNoCell) {
    Plane prev = kHand.plane(-3), cur = kHand.plane(-1000);
    kHand.at(prev, 10, 10) = 2;
    kHand.at(cur, 11, 10) = -1;
    kHand.at(cur, 12, 10) = 5;
    const AddTwoResults r = nearestLabelsBoth(kHand, prev, cur);
    for (Plane a : {r.hostA, r.deviceA}) {
        EXPECT_EQ(kHand.at(a, 10, 10), 5);
        kHand.at(a, 10, 10) = -1;
        EXPECT_EQ(a, kHand.plane());
    }
    for (Plane b : {r.hostB, r.deviceB}) {
        EXPECT_EQ(kHand.at(b, 12, 10), 2);
        kHand.at(b, 12, 10) = -1;
        EXPECT_EQ(b, kHand.plane());
    }
}

// --- addtwo, device against host on random planes ----------------------------------------

// Labels from a small range at the given density, so that equally near different labels are
// common; "no cell" is any of several negative values.
Plane randomLabels(const Frame& f, double density, int32_t labels, std::mt19937& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int32_t none[] = {-1, -1, -2, -1000};
    Plane p = f.plane();
    for (int32_t& v : p) v = u(rng) < density ? static_cast<int32_t>(rng() % labels) : none[rng() % 4];
    return p;
}

TEST(ComputeAddTwo, DeviceMatchesHostOnRandomPlanesOfOddSizes) {
    std::mt19937 rng(20240611);
    for (const Frame f : {Frame{7, 5}, Frame{33, 17}, Frame{211, 190}}) {
        for (const double density : {0.0, 0.002, 0.05, 0.5, 1.0}) {
            const Plane prev = randomLabels(f, density, 4, rng);
            const Plane cur = randomLabels(f, 1.0 - density, 4, rng);
            const AddTwoResults r = nearestLabelsBoth(f, prev, cur);
            EXPECT_EQ(r.deviceA, r.hostA) << f.width << " x " << f.height << " density " << density;
            EXPECT_EQ(r.deviceB, r.hostB) << f.width << " x " << f.height << " density " << density;
            if (density == 0.0) {
                EXPECT_EQ(r.hostA, f.plane()) << "no previous cells";
            }
            if (density == 1.0) {
                EXPECT_EQ(r.hostB, f.plane()) << "no current cells";
            }
        }
    }
}

// Discs of labels 0 .. 3 (equal labels meet, and equally near different labels are common)
// over several "no cell" values; a few discs leave most cell pixels far from the other plane's.
Plane labelBlobs(const Frame& f, int count, std::mt19937& rng) {
    const int32_t none[] = {-1, -2, -1000};
    Plane p = f.plane();
    for (int32_t& v : p) v = none[rng() % 3];
    for (int i = 0; i < count; ++i) {
        const int32_t cx = static_cast<int32_t>(rng() % f.width), cy = static_cast<int32_t>(rng() % f.height);
        const int32_t r = static_cast<int32_t>(rng() % 9), label = static_cast<int32_t>(rng() % 4);
        for (int32_t y = std::max(0, cy - r); y <= std::min(f.height - 1, cy + r); ++y) {
            for (int32_t x = std::max(0, cx - r); x <= std::min(f.width - 1, cx + r); ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) f.at(p, x, y) = label;
            }
        }
    }
    return p;
}

TEST(ComputeAddTwo, PrunedSearchesMatchTheHostAndTheUnprunedSearch) {
    std::mt19937 rng(4711);
    for (const Frame f : {Frame{7, 5}, Frame{33, 17}, Frame{211, 190}}) {
        ComputeDevice* device = DeviceCache::get(f.width, f.height);
        ASSERT_NE(device, nullptr);
        for (const int blobs : {0, 1, 3, 12, 40, 400}) {
            const Plane prev = labelBlobs(f, blobs, rng);
            const Plane cur = labelBlobs(f, blobs / 2 + 1, rng);
            device->setAddTwoPruning(true);
            const AddTwoResults pruned = nearestLabelsBoth(f, prev, cur);
            device->setAddTwoPruning(false);
            const AddTwoResults plain = nearestLabelsBoth(f, prev, cur);
            const auto where = ::testing::Message() << f.width << " x " << f.height << ", " << blobs << " blobs";
            EXPECT_EQ(pruned.deviceA, pruned.hostA) << where;
            EXPECT_EQ(pruned.deviceB, pruned.hostB) << where;
            EXPECT_EQ(plain.deviceA, pruned.deviceA) << where;
            EXPECT_EQ(plain.deviceB, pruned.deviceB) << where;
        }
    }
}

// --- addone, hand-derived ----------------------------------------------------------------

TEST(ComputeAddOne, FrameWithoutCellsIsMinusOneEverywhere) {
    std::vector<int32_t> table = emptyTable();
    setCell(table, 1, 5, 5);  // stale record behind the end marker
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t, int32_t) { return -1; });
}

TEST(ComputeAddOne, OneCellIsNearestEverywhere) {
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, 30, 2, 1);  // a small cell is a site like any other
    setEndMarker(table, 1);
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t, int32_t) { return 0; });
}

TEST(ComputeAddOne, TwoCellsSplitAlongTheBisectorLowestIndexOnIt) {
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, 2, 4);
    setCell(table, 1, 9, 4);
    setEndMarker(table, 2);
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t x, int32_t) { return x <= 5 ? 0 : 1; });

    // Centres 6 apart: column 5 is equally near both and goes to record 0.
    setCell(table, 0, 8, 4);
    setCell(table, 1, 2, 4);
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t x, int32_t) { return x < 5 ? 1 : 0; });

    // (0, 0) and (4, 4): d0 - d1 = 8 (x + y - 4), so x + y <= 4 goes to record 0.
    setCell(table, 0, 0, 0);
    setCell(table, 1, 4, 4);
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t x, int32_t y) { return x + y <= 4 ? 0 : 1; });
}

TEST(ComputeAddOne, ScanStopsAtTheEndMarker) {
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, 0, 0);
    setCell(table, 1, 32, 16, 1);
    setEndMarker(table, 2);
    setCell(table, 3, 16, 8);  // stale: would win around the middle
    setCell(table, 4, 16, 9);
    const auto maps = nearestCellMapBoth(kHand, table);
    // d0 - d1 = 64 x + 32 y - 1280, so 2 x + y <= 40 goes to record 0.
    expectMap(kHand, maps, [](int32_t x, int32_t y) { return 2 * x + y <= 40 ? 0 : 1; });
}

TEST(ComputeAddOne, RecordsBeyondThousandAreSites) {
    // 1,500 cells on (0, 0) except two; then a full table without an end marker, whose last
    // record is the only one on (20, 8).
    std::vector<int32_t> table = emptyTable();
    for (int32_t k = 0; k < 1500; ++k) setCell(table, k, 0, 0);
    setCell(table, 1200, 32, 16);
    setCell(table, 1499, 32, 0);
    setEndMarker(table, 1500);
    const auto maps = nearestCellMapBoth(kHand, table);
    for (const Plane* m : {&maps.first, &maps.second}) {
        EXPECT_EQ(kHand.get(*m, 0, 0), 0);
        EXPECT_EQ(kHand.get(*m, 12, 12), 0);
        EXPECT_EQ(kHand.get(*m, 32, 16), 1200);
        EXPECT_EQ(kHand.get(*m, 25, 12), 1200);
        EXPECT_EQ(kHand.get(*m, 32, 0), 1499);
        EXPECT_EQ(kHand.get(*m, 25, 4), 1499);
        for (int32_t v : *m) EXPECT_TRUE(v == 0 || v == 1200 || v == 1499) << v;
    }

    for (int32_t k = 0; k < kTableRecords; ++k) setCell(table, k, 0, 0);
    setCell(table, kTableRecords - 1, 20, 8);
    const auto full = nearestCellMapBoth(kHand, table);
    for (const Plane* m : {&full.first, &full.second}) {
        EXPECT_EQ(kHand.get(*m, 20, 8), kTableRecords - 1);
        EXPECT_EQ(kHand.get(*m, 32, 16), kTableRecords - 1);
        EXPECT_EQ(kHand.get(*m, 1, 1), 0);
    }
}

TEST(ComputeAddOne, OnePixelFrameTakesTheLowestOfEquallyNearCentres) {
    const Frame f{1, 1};
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, 2, 2);
    setCell(table, 1, 0, 1);
    setCell(table, 2, 1, 0);
    setEndMarker(table, 3);
    expectMap(f, nearestCellMapBoth(f, table), [](int32_t, int32_t) { return 1; });
}

TEST(ComputeAddOne, DistancesStayExactForCentresFarOutside) {
    // A = 2^31 - 1, B = 2^31: d0 - d1 = 2 (A + B) (y - x), so y <= x goes to record 0. The
    // squares alone overflow 32 bits and their sums overflow signed 64 bits.
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, INT32_MAX, INT32_MIN);
    setCell(table, 1, INT32_MIN, INT32_MAX);
    setEndMarker(table, 2);
    expectMap(kHand, nearestCellMapBoth(kHand, table), [](int32_t x, int32_t y) { return y <= x ? 0 : 1; });
}

// --- addone, device against host on random tables ----------------------------------------

// n cells with centres in the frame; with `crowded`, centres come from a handful of places
// so that many are equal.
std::vector<int32_t> randomTable(const Frame& f, int32_t n, bool crowded, std::mt19937& rng) {
    std::vector<int32_t> table = emptyTable();
    for (int32_t k = 0; k < n; ++k) {
        const int32_t spot = crowded ? static_cast<int32_t>(rng() % 7) : static_cast<int32_t>(rng());
        std::mt19937 place(crowded ? static_cast<uint32_t>(spot) : rng());
        setCell(table, k, static_cast<int32_t>(place() % f.width), static_cast<int32_t>(place() % f.height),
                static_cast<int32_t>(rng() % 2));
    }
    if (n < kTableRecords) setEndMarker(table, n);
    return table;
}

TEST(ComputeAddOne, DeviceMatchesHostOnRandomTablesOfOddSizes) {
    std::mt19937 rng(77);
    struct Case {
        Frame frame;
        int32_t cells;
        bool crowded;
    };
    const Case cases[] = {{{7, 5}, 0, false},      {{7, 5}, 1, false},       {{7, 5}, 2, true},
                          {{7, 5}, 1999, true},    {{33, 17}, 2, false},     {{33, 17}, 40, false},
                          {{33, 17}, 1999, false}, {{33, 17}, 1999, true},   {{211, 190}, 1, false},
                          {{211, 190}, 2, false},  {{211, 190}, 300, false}, {{211, 190}, 300, true},
                          {{211, 190}, 700, false}};
    for (const Case& c : cases) {
        const auto maps = nearestCellMapBoth(c.frame, randomTable(c.frame, c.cells, c.crowded, rng));
        EXPECT_EQ(maps.second, maps.first)
            << c.frame.width << " x " << c.frame.height << ", " << c.cells << (c.crowded ? " crowded" : "") << " cells";
        for (int32_t v : maps.first) {
            ASSERT_TRUE(c.cells == 0 ? v == -1 : (v >= 0 && v < c.cells)) << v;
        }
    }
}

TEST(ComputeAddOne, LatticeCentresTieOnEveryBisectorAcrossGroupEdges) {
    // Centres on even lattices (some repeated, some outside the frame) put whole rows and
    // columns of pixels at equal distances from two or four centres, across the edges of the
    // device's square groups and the partial groups at the frame's right and bottom.
    std::mt19937 rng(11);
    for (const Frame f : {Frame{50, 37}, Frame{97, 65}, Frame{16, 16}, Frame{17, 1}}) {
        for (int32_t spacing : {2, 6, 16}) {
            std::vector<int32_t> table = emptyTable();
            int32_t k = 0;
            for (int32_t y = -spacing; y < f.height + spacing && k < 1500; y += spacing) {
                for (int32_t x = -spacing; x < f.width + spacing && k < 1500; x += spacing) {
                    setCell(table, k++, x, y);
                    if (rng() % 5 == 0) setCell(table, k++, x, y);  // an equal centre at a higher index
                }
            }
            // Shuffled record order: the lowest index must win whatever the order in space.
            for (int32_t i = k - 1; i > 0; --i) {
                const int32_t j = static_cast<int32_t>(rng() % (i + 1));
                for (int32_t word = 0; word < kCellWords; ++word) {
                    std::swap(table[i * kCellWords + word], table[j * kCellWords + word]);
                }
            }
            setEndMarker(table, k);
            const auto maps = nearestCellMapBoth(f, table);
            EXPECT_EQ(maps.second, maps.first) << f.width << " x " << f.height << ", spacing " << spacing;
        }
    }
}

TEST(ComputeAddOne, RepeatedRunsKeepNothingBetweenRuns) {
    const Frame f{33, 17};
    std::vector<int32_t> table = emptyTable();
    setCell(table, 0, 3, 3);
    setEndMarker(table, 1);
    nearestCellMapBoth(f, table);
    setEndMarker(table, 0);
    expectMap(f, nearestCellMapBoth(f, table), [](int32_t, int32_t) { return -1; });
}

// --- device set-up -----------------------------------------------------------------------

std::string writeSource(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

TEST(ComputeDeviceOpen, PrintsPlatformThenDeviceName) {
    ComputeDevice device;
    std::ostringstream console;
    ASSERT_TRUE(device.open(kernelPath(), 7, 5, console).ok()) << device.error();
    const std::string out = console.str();
    EXPECT_EQ(out.rfind("Platform name : ", 0), 0u) << out;
    const size_t second = out.find("\nDevice name : ");
    ASSERT_NE(second, std::string::npos) << out;
    EXPECT_EQ(out.find('\n', second + 1), out.size() - 1) << "exactly two lines: " << out;
    EXPECT_TRUE(device.error().empty());
}

TEST(ComputeDeviceOpen, MissingSourceFileFails) {
    ComputeDevice device;
    std::ostringstream console;
    const std::string missing = ::testing::TempDir() + "no_such_folder/kernel3.cl";
    EXPECT_FALSE(device.open(missing, 7, 5, console).ok());
    EXPECT_NE(console.str().find("\nkernel3.cl load failed\n"), std::string::npos) << console.str();
    EXPECT_FALSE(device.error().empty());
    Plane out(35);
    EXPECT_FALSE(device.nearestCellMap(emptyTable().data(), out.data()).ok());
}

TEST(ComputeDeviceOpen, SyntaxErrorPrintsBuildLogAndFails) {
    const std::string path =
        writeSource("vanto_broken_kernel.cl", "__kernel void addone(__global int* o) { o[0] = undeclared_name; }\n");
    ComputeDevice device;
    std::ostringstream console;
    EXPECT_FALSE(device.open(path, 7, 5, console).ok());
    const std::string out = console.str();
    const size_t logStart = out.find('\n', out.find("Device name : "));
    ASSERT_NE(logStart, std::string::npos) << out;
    EXPECT_NE(out.find("undeclared_name", logStart), std::string::npos) << "build log on the console: " << out;
    EXPECT_NE(device.error().find("clBuildProgram"), std::string::npos) << device.error();
    // The message alone says which file failed and why.
    EXPECT_NE(device.error().find("\"" + path + "\" does not build"), std::string::npos) << device.error();
    EXPECT_NE(device.error().find("undeclared_name"), std::string::npos) << device.error();
}

TEST(ComputeDeviceOpen, AnEmptyOrMissingSourceIsNamedWithItsCause) {
    const std::string empty = writeSource("vanto_empty_kernel.cl", "");
    ComputeDevice device;
    std::ostringstream console;
    EXPECT_FALSE(device.open(empty, 7, 5, console).ok());
    EXPECT_EQ(device.error(), "the kernel source \"" + empty + "\" is empty");
    const std::string missing = ::testing::TempDir() + "no_such_folder/kernel3.cl";
    EXPECT_FALSE(device.open(missing, 7, 5, console).ok());
    EXPECT_EQ(device.error(), "cannot open the kernel source \"" + missing + "\": No such file or directory");
}

TEST(ComputeDeviceOpen, FailedCallIsNamedInTheError) {
    const std::string path = writeSource("vanto_partial_kernel.cl", "__kernel void addtwo(__global int* o) { }\n");
    ComputeDevice device;
    std::ostringstream console;
    EXPECT_FALSE(device.open(path, 7, 5, console).ok());
    EXPECT_NE(device.error().find("clCreateKernel(addone)"), std::string::npos) << device.error();
    EXPECT_NE(device.error().find("-46"), std::string::npos) << "CL_INVALID_KERNEL_NAME: " << device.error();
}

TEST(ComputeDeviceOpen, EmptyFrameIsRefused) {
    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{7, 0}, std::pair{-1, -1}}) {
        ComputeDevice device;
        std::ostringstream console;
        EXPECT_FALSE(device.open(kernelPath(), w, h, console).ok()) << w << " x " << h;
        EXPECT_FALSE(device.error().empty());
        Plane a(1), b(1);
        EXPECT_FALSE(device.nearestLabelsAcrossFrames(a.data(), b.data(), sortedTables(), a.data(), b.data()).ok());
    }
}

}  // namespace
}  // namespace vanto
