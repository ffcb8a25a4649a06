// The CTC mask writer on its own: label range, and masks committed or rolled back with their frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "export/ctc_export.h"
#include "mask_files.h"
#include "run_fixture.h"
#include "workspace_fixture.h"

namespace vanto {
namespace {

using testing::readMask;
using testing::TempDir;

TEST(CtcMasks, LabelsUpTo65535AreWrittenAndLargerOnesEndTheMasks) {
    TempDir dir;
    auto ws = testing::makeWorkspace(4, 3);
    std::fill_n(ws->cells.frameLabels, 12, -1);
    std::fill_n(ws->cells.frameLabels + 4, 3, 0);
    ws->cells.finalCount = 1;
    CtcExport ctc;
    ctc.open(dir.path(), 1001, 4, 3);
    cellRecord(ws->cells.cellTable, 0)[CellWord::cellId] = 65534;
    ASSERT_TRUE(CtcExport::labelsFit(ws->cells));
    const Status written = ctc.writeMask(ws->cells, 1);
    ASSERT_TRUE(written.ok()) << written.detail;
    ctc.commitFrame();
    uint32_t w = 0, h = 0;
    const auto mask = readMask(dir.file("mask0000.tif"), w, h);
    EXPECT_EQ(mask, std::vector<uint16_t>({0, 0, 0, 0, 65535, 65535, 65535, 0, 0, 0, 0, 0}));
    cellRecord(ws->cells.cellTable, 0)[CellWord::cellId] = 65535;
    EXPECT_FALSE(CtcExport::labelsFit(ws->cells));
    EXPECT_EQ(ctc.lastMaskFrame(), 1);
}

TEST(CtcMasks, AMaskRolledBackIsRemovedAndLeavesTheLastCommittedFrame) {
    TempDir dir;
    auto ws = testing::makeWorkspace(4, 3);
    std::fill_n(ws->cells.frameLabels, 12, 0);
    ws->cells.finalCount = 1;
    CtcExport ctc;
    ctc.open(dir.path(), 5, 4, 3);
    ASSERT_TRUE(ctc.writeMask(ws->cells, 1).ok());
    ctc.commitFrame();
    ASSERT_TRUE(ctc.writeMask(ws->cells, 2).ok());
    ASSERT_TRUE(std::filesystem::exists(dir.file("mask001.tif")));
    ctc.rollBackFrame();
    EXPECT_FALSE(std::filesystem::exists(dir.file("mask001.tif")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("mask000.tif")));
    EXPECT_EQ(ctc.lastMaskFrame(), 1);
    // A roll back with nothing begun since the commit keeps the committed mask.
    ctc.rollBackFrame();
    EXPECT_TRUE(std::filesystem::exists(dir.file("mask000.tif")));
}

}  // namespace
}  // namespace vanto
