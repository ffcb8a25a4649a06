#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vanto {

// Frees a block from reserveBlock.
struct BlockRelease {
    void operator()(void* block) const;
};

template <class T>
using OwnedBlock = std::unique_ptr<T[], BlockRelease>;

// Reserves bytes of uninitialised memory; null when it cannot be had. A block of 1 MiB or more
// starts on a 2 MiB boundary and the kernel is asked to back it with transparent huge pages,
// so that first touching it costs one fault per 2 MiB instead of one per 4 KiB: on virtual
// machines a fault can cost ten microseconds, and the run's blocks hold tens of thousands of
// pages. Only a hint: a kernel that does not offer huge pages ignores it. A block touched
// sparsely, a few kilobytes here and there, asks for small pages instead (Pages::small), since
// each huge page is cleared whole at its first touch.
enum class Pages { huge, small };
void* reserveBytes(std::size_t bytes, Pages pages = Pages::huge);

// entries values of T (trivial types only), reserved as by reserveBytes; null when the count
// is negative, overflows or cannot be had. At least one entry is always reserved.
template <class T>
OwnedBlock<T> reserveBlock(int64_t entries, Pages pages = Pages::huge) {
    if (entries < 0 || static_cast<uint64_t>(entries) > SIZE_MAX / sizeof(T) / 2) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(entries < 1 ? 1 : entries) * sizeof(T);
    return OwnedBlock<T>(static_cast<T*>(reserveBytes(bytes, pages)));
}

}  // namespace vanto
