#include "model/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace vanto {
namespace {

TEST(ReserveBlock, LargeBlocksStartOnHugePagesAndBadCountsGiveNothing) {
    // A block of several huge pages and an odd tail: aligned, and every byte usable.
    const int64_t entries = (int64_t{5} << 20) + 3;
    OwnedBlock<int32_t> big = reserveBlock<int32_t>(entries);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big.get()) % (std::uintptr_t{2} << 20), 0u);
    std::memset(big.get(), 0xff, static_cast<size_t>(entries) * sizeof(int32_t));
    EXPECT_EQ(big[entries - 1], -1);
    // A large block on small pages: page-aligned and every byte usable.
    OwnedBlock<int32_t> sparse = reserveBlock<int32_t>(entries, Pages::small);
    ASSERT_NE(sparse, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sparse.get()) % 4096, 0u);
    std::memset(sparse.get(), 0xff, static_cast<size_t>(entries) * sizeof(int32_t));
    EXPECT_EQ(sparse[entries - 1], -1);
    // Small blocks come from the ordinary heap; an empty request still gives one entry.
    EXPECT_NE(reserveBlock<uint8_t>(0), nullptr);
    EXPECT_NE(reserveBlock<int16_t>(100), nullptr);
    // A negative count or one whose byte size overflows is refused, not wrapped.
    EXPECT_EQ(reserveBlock<int32_t>(-1), nullptr);
    EXPECT_EQ(reserveBlock<int32_t>(INT64_MAX / 2), nullptr);
}

}  // namespace
}  // namespace vanto
