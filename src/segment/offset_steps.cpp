#include "segment/offset_steps.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

namespace vanto {

namespace {

// True when the inner points and the corner pairs (either way round) of offset k's ray from
// p = 0 are those of offset j's ray from base. The points of one ray are distinct.
bool sameRay(const OffsetSteps& s, int k, int j, int32_t base) {
    if (s.innerBegin[k + 1] - s.innerBegin[k] != s.innerBegin[j + 1] - s.innerBegin[j] ||
        s.cornerBegin[k + 1] - s.cornerBegin[k] != s.cornerBegin[j + 1] - s.cornerBegin[j]) {
        return false;
    }
    for (int32_t a = s.innerBegin[k]; a < s.innerBegin[k + 1]; ++a) {
        bool found = false;
        for (int32_t b = s.innerBegin[j]; b < s.innerBegin[j + 1] && !found; ++b) {
            found = s.inner[a] == base + s.inner[b];
        }
        if (!found) return false;
    }
    for (int32_t a = s.cornerBegin[k]; a < s.cornerBegin[k + 1]; ++a) {
        bool found = false;
        for (int32_t b = s.cornerBegin[j]; b < s.cornerBegin[j + 1] && !found; ++b) {
            const int32_t c = base + s.cornerA[b], d = base + s.cornerB[b];
            found = (s.cornerA[a] == c && s.cornerB[a] == d) || (s.cornerA[a] == d && s.cornerB[a] == c);
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace

bool raysReadBothWays(const OffsetSteps& s) {
    for (int k = 1; k <= kNeckOffsets; ++k) {
        int mirror = 0;
        for (int j = 1; j <= kNeckOffsets && mirror == 0; ++j) {
            if (s.dx[j] == -s.dx[k] && s.dy[j] == -s.dy[k]) mirror = j;
        }
        // The ray of k from p against the ray of its mirror from the far end p + delta[k].
        if (mirror == 0 || !sameRay(s, k, mirror, s.delta[k])) return false;
    }
    return true;
}

void buildOffsetSteps(const NeighbourhoodTables& t, int32_t width, OffsetSteps& s) {
    int inner = 0;
    int corners = 0;
    int reach = 0;
    s.rows = PixelRows(width);
    s.dx[0] = 0;
    s.dy[0] = 0;
    s.delta[0] = 0;
    s.reachUpTo[0] = 0;
    s.innerBegin[0] = 0;
    s.cornerBegin[0] = 0;
    for (int k = 1; k <= kNeckOffsets; ++k) {
        s.dx[k] = t.offsetDx[k];
        s.dy[k] = t.offsetDy[k];
        s.delta[k] = t.offsetDy[k] * width + t.offsetDx[k];
        const int r = std::max(std::abs(t.offsetDx[k]), std::abs(t.offsetDy[k]));
        reach = r > reach ? r : reach;
        s.reachUpTo[k] = static_cast<int8_t>(reach);
        s.innerBegin[k] = static_cast<int16_t>(inner);
        s.cornerBegin[k] = static_cast<int16_t>(corners);
        const int b = t.rayBegin(k);
        const int e = t.rayEnd[k];
        for (int i = b; i + 1 < e; ++i) {
            const int x0 = t.rayX[i], y0 = t.rayY[i];
            const int x1 = t.rayX[i + 1], y1 = t.rayY[i + 1];
            if (i + 1 < e - 1) {
                assert(inner < OffsetSteps::kRoom);
                s.inner[inner++] = y1 * width + x1;
            }
            if (x0 != x1 && y0 != y1) {
                assert(corners < OffsetSteps::kRoom);
                s.cornerA[corners] = y0 * width + x1;
                s.cornerB[corners] = y1 * width + x0;
                ++corners;
            }
        }
    }
    std::fill_n(s.discRow, OffsetSteps::kDiscSide, uint16_t{0});
    std::fill_n(s.discRowAhead, OffsetSteps::kDiscSide, uint16_t{0});
    std::fill_n(&s.offsetAt[0][0], OffsetSteps::kDiscSide * OffsetSteps::kDiscSide, int8_t{-1});
    s.discFits = reach <= OffsetSteps::kDiscReach;
    for (int k = 1; k <= kNeckOffsets && s.discFits; ++k) {
        const int col = s.dx[k] + reach, row = s.dy[k] + reach;
        s.discRow[row] = static_cast<uint16_t>(s.discRow[row] | (1u << col));
        if (isAhead(s.dx[k], s.dy[k])) s.discRowAhead[row] = static_cast<uint16_t>(s.discRowAhead[row] | (1u << col));
        s.offsetAt[row][col] = static_cast<int8_t>(k);
    }
    s.innerBegin[kNeckOffsets + 1] = static_cast<int16_t>(inner);
    s.cornerBegin[kNeckOffsets + 1] = static_cast<int16_t>(corners);
    s.raysMirror = raysReadBothWays(s);
}

}  // namespace vanto
