#include "segment/index_sort.h"

#include <cassert>
#include <utility>

namespace vanto {

namespace {

template <typename Key>
Key medianOfThree(Key a, Key b, Key c) {
    if (a < b) {
        if (b < c) return b;
        return a < c ? c : a;
    }
    if (a < c) return a;
    return b < c ? c : b;
}

// Ranges of fewer than two elements are never pushed: they would be dropped when popped,
// so the result is the same, and the pending ranges (disjoint, two or more elements each)
// then never outnumber last / 2 + 1.
template <typename Key>
void quicksortIndices(int32_t* a, const Key* key, int32_t last, int32_t* stack, int64_t stackRanges) {
    if (last < 1) return;
    int64_t top = 0;
    auto push = [&](int32_t lo, int32_t hi) {
        if (lo >= hi) return;
        assert(top < stackRanges);
        (void)stackRanges;
        stack[2 * top] = lo;
        stack[2 * top + 1] = hi;
        ++top;
    };
    push(0, last);
    while (top > 0) {
        --top;
        const int32_t lo = stack[2 * top];
        const int32_t hi = stack[2 * top + 1];
        const int32_t mid = lo + (hi - lo) / 2;
        const Key pivot = medianOfThree(key[a[lo]], key[a[mid]], key[a[hi]]);
        int32_t i = lo;
        int32_t j = hi;
        for (;;) {
            while (key[a[i]] < pivot) ++i;
            while (pivot < key[a[j]]) --j;
            if (i >= j) break;
            std::swap(a[i], a[j]);
            ++i;
            --j;
        }
        // The left range is taken first: push it last.
        push(j + 1, hi);
        push(lo, i - 1);
    }
}

}  // namespace

void sortIndicesByIntKey(int32_t* index, const int32_t* key, int32_t last, int32_t* stack, int64_t stackRanges) {
    quicksortIndices(index, key, last, stack, stackRanges);
}

void sortIndicesByByteKey(int32_t* index, const uint8_t* key, int32_t last, int32_t* stack, int64_t stackRanges) {
    quicksortIndices(index, key, last, stack, stackRanges);
}

}  // namespace vanto
