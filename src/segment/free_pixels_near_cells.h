#pragma once
#include <algorithm>
#include <cstdint>

namespace vanto {

// The labels found in the disc of radius r (Euclidean, the centre included) around a pixel:
// the lowest taken unsigned, so that a negative label (no cell) is never it unless the disc
// holds no cell, and the highest, negative exactly when the disc holds no cell. A disc holds a
// single cell exactly when highest >= 0 and static_cast<uint32_t>(highest) == lowest.
struct DiscLabels {
    uint32_t lowest;
    int32_t highest;
    bool singleCell() const { return highest >= 0 && static_cast<uint32_t>(highest) == lowest; }
};

namespace disc_scan {

// Into lowest and highest, element-wise, the least (unsigned) and greatest of themselves and the
// labels from, at n places: one loop in vector instructions, built for processors with wider
// ones too. from may not overlap lowest or highest.
void takeSpan(uint32_t* lowest, int32_t* highest, const uint32_t* fromLowest, const int32_t* fromHighest, int32_t n);
inline void takeLabels(uint32_t* lowest, int32_t* highest, const int32_t* labels, int32_t n) {
    takeSpan(lowest, highest, reinterpret_cast<const uint32_t*>(labels), labels, n);
}

}  // namespace disc_scan

// Calls visit(x, y, p, disc) for every pixel of no cell (labels[p] < 0, p = y * w + x) with a
// cell pixel within Euclidean distance r of it, row by row and left to right, with the disc's
// labels; 0 <= r <= MaxReach. Pixels beyond the frame's edges count as no cell.
// The disc is the union of its columns: column dx holds the rows within b(dx) = floor(sqrt(r^2
// - dx^2)) of the centre. For a chunk of a row, the labels of each column over rows y - b ..
// y + b are taken for the few reaches b that occur, each from the one below it, then the
// disc's from its 2 r + 1 columns, all in straight loops over the chunk; so a pixel costs the
// same however many cells lie near it.
template <int32_t MaxReach, class Visit>
void forEachFreePixelNearCells(const int32_t* labels, int32_t w, int32_t h, int32_t r, Visit&& visit) {
    constexpr int32_t kChunk = 256;  // columns of a row handled at once
    constexpr int32_t kSpan = kChunk + 2 * MaxReach;
    // The reaches that occur, b(r) = 0 first and b(0) = r last, and each column's among them.
    int32_t reaches[MaxReach + 1];
    int32_t reachCount = 0;
    int32_t levelOf[2 * MaxReach + 1];  // at dx + r
    for (int32_t dx = -r; dx <= 0; ++dx) {
        int32_t b = 0;
        while ((b + 1) * (b + 1) + dx * dx <= r * r) ++b;
        if (reachCount == 0 || reaches[reachCount - 1] != b) reaches[reachCount++] = b;
        levelOf[dx + r] = levelOf[r - dx] = reachCount - 1;
    }
    // lowest[j] and highest[j]: index i is column x0 - r + i over rows y - reaches[j] .. y + reaches[j].
    uint32_t lowest[MaxReach + 1][kSpan];
    int32_t highest[MaxReach + 1][kSpan];
    uint32_t discLowest[kChunk];
    int32_t discHighest[kChunk];
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            const int32_t x1 = std::min(w, x0 + kChunk), n = x1 - x0;
            // Columns from - r to n + r of the chunk; those beyond the frame hold no cell.
            const int32_t span = n + 2 * r;
            const int32_t from = std::max(0, x0 - r), to = std::min(w, x1 + r);
            const int32_t lead = from - (x0 - r), inFrame = to - from;
            const auto row = [&](int32_t yy) { return labels + static_cast<int64_t>(yy) * w + from; };
            std::fill_n(lowest[0], span, UINT32_MAX);
            std::fill_n(highest[0], span, -1);
            std::copy_n(reinterpret_cast<const uint32_t*>(row(y)), inFrame, lowest[0] + lead);
            std::copy_n(row(y), inFrame, highest[0] + lead);
            for (int32_t j = 1; j < reachCount; ++j) {
                std::copy_n(lowest[j - 1], span, lowest[j]);
                std::copy_n(highest[j - 1], span, highest[j]);
                for (int32_t b = reaches[j - 1] + 1; b <= reaches[j]; ++b)
                    for (const int32_t yy : {y - b, y + b}) {
                        if (yy < 0 || yy >= h) continue;
                        disc_scan::takeLabels(lowest[j] + lead, highest[j] + lead, row(yy), inFrame);
                    }
            }
            bool anyCell = false;
            for (int32_t i = 0; i < span && !anyCell; ++i) anyCell = highest[reachCount - 1][i] >= 0;
            if (!anyCell) continue;
            std::copy_n(lowest[levelOf[0]], n, discLowest);
            std::copy_n(highest[levelOf[0]], n, discHighest);
            for (int32_t i = 1; i <= 2 * r; ++i)
                disc_scan::takeSpan(discLowest, discHighest, lowest[levelOf[i]] + i, highest[levelOf[i]] + i, n);
            const int64_t rowStart = static_cast<int64_t>(y) * w + x0;
            for (int32_t i = 0; i < n; ++i) {
                if (discHighest[i] < 0 || labels[rowStart + i] >= 0) continue;
                visit(x0 + i, y, rowStart + i, DiscLabels{discLowest[i], discHighest[i]});
            }
        }
    }
}

}  // namespace vanto
