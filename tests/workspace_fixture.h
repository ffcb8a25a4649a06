#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "model/workspace.h"
#include "segment/neighbourhood.h"

namespace vanto::testing {

// A workspace reserved for a w x h frame, with its neighbourhood tables built.
inline std::unique_ptr<Workspace> makeWorkspace(int32_t w, int32_t h) {
    auto ws = std::make_unique<Workspace>();
    EXPECT_TRUE(ws->reserve(w, h));
    buildNeighbourhoodTables(ws->tables, ws->scratchInts, ws->scratchInts + kWindowOffsets, ws->sortStack,
                             ws->sortStackRanges);
    return ws;
}

}  // namespace vanto::testing
