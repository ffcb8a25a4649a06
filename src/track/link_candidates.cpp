#include "track/link_candidates.h"

#include <algorithm>
#include <bit>

#include "model/plane_scan.h"

namespace vanto {

namespace {

// entry a * count + b is set to 1 when a pixel of a has its left, upper, right or lower
// neighbour in b. Being neighbours is mutual, so each pair of pixels is seen once, from its
// left or upper pixel, and sets both entries.
void buildAdjacency(const int32_t* labels, int32_t width, int32_t height, int32_t count, int32_t* matrix) {
    std::fill_n(matrix, static_cast<int64_t>(count) * count, 0);
    auto touch = [&](int32_t a, int32_t b) {
        if (b < 0) return;
        matrix[static_cast<int64_t>(a) * count + b] = 1;
        matrix[static_cast<int64_t>(b) * count + a] = 1;
    };
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* row = labels + static_cast<int64_t>(y) * width;
        const bool below = y < height - 1;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t a = row[x];
            if (a < 0) continue;
            if (x < width - 1) touch(a, row[x + 1]);
            if (below) touch(a, row[x + width]);
        }
    }
}

}  // namespace

int32_t listLinkCandidates(FrameCells& cells, FrameHistory& history, CrossFrameNearest nearest, int32_t* linkList,
                           int32_t* slot) {
    const int32_t curCount = cells.curCount;
    const int32_t prevCount = history.prevCount;
    const int64_t pairs = static_cast<int64_t>(prevCount) * curCount;
    // The pairs with support are marked in a bit set, one bit a pair, so that neither clearing
    // nor listing them walks the whole matrix (whose size grows with the square of the cells):
    // an entry of overlap is valid only where its bit is set, and is written whole at its first
    // run. The bits live in prevAdjacency, which is rebuilt below, after they have been read.
    int32_t* overlap = cells.pairMatrix;
    uint32_t* supported = reinterpret_cast<uint32_t*>(history.prevAdjacency);
    const int64_t words = (pairs + 31) / 32;
    std::fill_n(supported, words, 0u);

    // Neighbouring pixels mostly add to the same pair: one run of equal pairs per result.
    const int32_t* a = nearest.curNearPrev;
    const int32_t* b = nearest.prevNearCur;
    const int32_t* prevLabels = history.prevFrameLabels;
    const int32_t* curLabels = cells.segLabels;
    const auto addTo = [overlap, supported](int64_t m, int32_t n) {
        uint32_t& word = supported[m >> 5];
        const uint32_t bit = 1u << (m & 31);
        if ((word & bit) == 0) {
            word |= bit;
            overlap[m] = n;
        } else {
            overlap[m] += n;
        }
    };
    RunCounter fromA(addTo), fromB(addTo);
    for (int64_t p = 0; p < cells.pixelCount; ++p) {
        if (a[p] >= 0) fromA.count(static_cast<int64_t>(prevLabels[p]) * curCount + a[p]);
        if (b[p] >= 0) fromB.count(static_cast<int64_t>(b[p]) * curCount + curLabels[p]);
    }
    fromA.finish();
    fromB.finish();

    // The link list: matrix indices of the pairs with support, ascending. Only the first
    // kLinkLimit are kept; more end the run anyway.
    int32_t* list = linkList;
    int32_t linkCount = 0;
    for (int64_t i = 0; i < words; ++i) {
        for (uint32_t word = supported[i]; word != 0; word &= word - 1) {
            if (linkCount < kLinkLimit) list[linkCount] = static_cast<int32_t>(i * 32 + std::countr_zero(word));
            ++linkCount;
        }
    }
    cells.linkCount = linkCount;
    if (linkCount >= kLinkLimit) return linkCount;

    for (int32_t k = 0; k < linkCount; ++k) {
        const int32_t m = list[k];
        const int32_t prev = m / curCount;
        const int32_t cur = m % curCount;
        const int32_t* pr = cellRecord(history.prevCellTable, prev);
        const int32_t* cr = cellRecord(cells.cellTable, cur);
        int32_t* e = linkEntry(slot, k);
        e[LinkWord::prevX] = pr[CellWord::centerX];
        e[LinkWord::prevY] = pr[CellWord::centerY];
        e[LinkWord::curX] = cr[CellWord::centerX];
        e[LinkWord::curY] = cr[CellWord::centerY];
        e[LinkWord::linkState] = kLinkUnexamined;
        e[LinkWord::prevIndex] = prev;
        e[LinkWord::curIndex] = cur;
        e[LinkWord::overlap] = overlap[m];
        e[LinkWord::spare] = -1;
        e[LinkWord::curSmall] = -1;
    }
    endSlotAt(slot, linkCount);  // linkCount < kLinkLimit = kSlotEntries

    buildAdjacency(prevLabels, cells.width, cells.height, prevCount, history.prevAdjacency);
    buildAdjacency(curLabels, cells.width, cells.height, curCount, cells.pairMatrix);
    return linkCount;
}

}  // namespace vanto
