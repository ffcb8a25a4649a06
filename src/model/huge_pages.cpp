#include "model/huge_pages.h"

#include <sys/mman.h>

#include <cstdlib>

namespace vanto {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSmallPage = 4096;

}  // namespace

void BlockRelease::operator()(void* block) const { std::free(block); }

void* reserveBytes(std::size_t bytes, Pages pages) {
    if (bytes < kHugePage / 2) return std::malloc(bytes);
    void* block = nullptr;
    if (pages == Pages::small) {
        if (::posix_memalign(&block, kSmallPage, bytes) != 0) return nullptr;
#ifdef MADV_NOHUGEPAGE
        // Also where huge pages are the default.
        ::madvise(block, bytes & ~(kSmallPage - 1), MADV_NOHUGEPAGE);
#endif
        return block;
    }
    if (::posix_memalign(&block, kHugePage, bytes) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    // Whole huge pages only: the tail past the last 2 MiB boundary keeps small pages, so a
    // block never holds more resident memory than it is asked for plus what it touches.
    const std::size_t whole = bytes & ~(kHugePage - 1);
    if (whole > 0) ::madvise(block, whole, MADV_HUGEPAGE);
#endif
    return block;
}

}  // namespace vanto
