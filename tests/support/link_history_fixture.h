#pragma once
#include <gtest/gtest.h>

#include <algorithm>

#include "model/records.h"
#include "workspace_fixture.h"

namespace vanto::testing {

// One 64 x 64 workspace for a suite; every test starts from an empty link history.
class LinkHistoryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ws_ = makeWorkspace(64, 64).release(); }
    static void TearDownTestSuite() {
        delete ws_;
        ws_ = nullptr;
    }
    void SetUp() override {
        std::fill_n(ws_->history.linkHistory, int64_t{kSlotCount} * kSlotWords, -1);
        std::fill_n(used_, kSlotCount, 0);
    }

    // Appends an entry to the slot of frame number f.
    void add(int32_t f, int32_t px, int32_t py, int32_t cx, int32_t cy, int32_t state, int32_t carried,
             int32_t small) {
        int32_t* e = linkEntry(ws_->history.slotOfFrame(f), used_[f % kSlotCount]++);
        e[LinkWord::prevX] = px;
        e[LinkWord::prevY] = py;
        e[LinkWord::curX] = cx;
        e[LinkWord::curY] = cy;
        e[LinkWord::linkState] = state;
        e[LinkWord::carriedId] = carried;
        e[LinkWord::curSmall] = small;
    }

    static inline Workspace* ws_ = nullptr;
    int32_t used_[kSlotCount] = {};
};

}  // namespace vanto::testing
