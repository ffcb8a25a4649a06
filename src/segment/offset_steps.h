#pragma once
#include <cstdint>
#include <cstring>

#include "model/neighbourhood_tables.h"
#include "model/pixel_rows.h"

namespace vanto {

// Offsets 1..kNeckOffsets of the sorted table and their rays, as index deltas for one frame
// width. The ray of offset k runs from its far end q = p + delta[k] back to p: its inner
// points lie strictly between q and p, and each diagonal step of it has two corner pixels.
// Every inner point and corner lies in the rectangle spanned by p and q, so a q inside the
// frame needs no further bounds test.
struct OffsetSteps {
    static constexpr int kRoom = 512;  // the rays of offsets 1..88 hold 444 points

    int8_t dx[kNeckOffsets + 1];
    int8_t dy[kNeckOffsets + 1];
    int32_t delta[kNeckOffsets + 1];
    // Largest |dx| or |dy| among offsets 1..k: a pixel at least that far from every frame
    // edge has all of those neighbours inside the frame.
    int8_t reachUpTo[kNeckOffsets + 1];
    // Inner points of offset k: inner[innerBegin[k] .. innerBegin[k + 1]).
    int16_t innerBegin[kNeckOffsets + 2];
    int32_t inner[kRoom];
    // Corner pairs of the diagonal steps of offset k: cornerA/B[cornerBegin[k] .. cornerBegin[k + 1]).
    int16_t cornerBegin[kNeckOffsets + 2];
    int32_t cornerA[kRoom];
    int32_t cornerB[kRoom];
    PixelRows rows;  // row and column of an index for the same width

    // The disc of offsets 1..kNeckOffsets by rows, with r = reachUpTo[kNeckOffsets]: bit
    // dx + r of discRow[dy + r] is set when some offset k <= kNeckOffsets is (dx, dy), and
    // offsetAt[dy + r][dx + r] holds that k (-1 elsewhere).
    static constexpr int kDiscReach = 7;  // the largest r the rows have room for
    static constexpr int kDiscSide = 2 * kDiscReach + 1;
    bool discFits = false;
    uint16_t discRow[kDiscSide];
    // discRow restricted to the offsets ahead of p in index order (isAhead).
    uint16_t discRowAhead[kDiscSide];
    int8_t offsetAt[kDiscSide][kDiscSide];
    // True when every offset -k of the disc is also in it and its ray, seen from the far end,
    // holds the same inner points and corner pairs: then a test or painting of the ray between
    // two pixels does not depend on which end it starts from.
    bool raysMirror = false;
};

void buildOffsetSteps(const NeighbourhoodTables& t, int32_t width, OffsetSteps& s);

// Whether the rays of s read the same from either end (what buildOffsetSteps stores in
// raysMirror), judged by their deltas: a frame narrower than the disc may alias two points and
// be refused.
bool raysReadBothWays(const OffsetSteps& s);

// Whether offset (dx, dy) leads to a later pixel in index order (the frame wider than |dx|).
inline bool isAhead(int32_t dx, int32_t dy) { return dy > 0 || (dy == 0 && dx > 0); }

inline bool inFrame(int32_t x, int32_t y, int32_t w, int32_t h) {
    return static_cast<uint32_t>(x) < static_cast<uint32_t>(w) && static_cast<uint32_t>(y) < static_cast<uint32_t>(h);
}

// True when no inner point of the ray of offset k from p is blocked, and no diagonal step of
// it has both corner pixels blocked; blocked(v) judges a plane value.
template <typename Blocked>
bool lineOpen(const int32_t* plane, const OffsetSteps& s, int32_t p, int k, Blocked blocked) {
    for (int32_t i = s.innerBegin[k], e = s.innerBegin[k + 1]; i < e; ++i) {
        if (blocked(plane[p + s.inner[i]])) return false;
    }
    for (int32_t i = s.cornerBegin[k], e = s.cornerBegin[k + 1]; i < e; ++i) {
        if (blocked(plane[p + s.cornerA[i]]) && blocked(plane[p + s.cornerB[i]])) return false;
    }
    return true;
}

// Calls paint(value) on every inner point and every corner pixel of the ray of offset k from p.
template <typename Paint>
void paintLine(int32_t* plane, const OffsetSteps& s, int32_t p, int k, Paint paint) {
    for (int32_t i = s.innerBegin[k], e = s.innerBegin[k + 1]; i < e; ++i) paint(plane[p + s.inner[i]]);
    for (int32_t i = s.cornerBegin[k], e = s.cornerBegin[k + 1]; i < e; ++i) {
        paint(plane[p + s.cornerA[i]]);
        paint(plane[p + s.cornerB[i]]);
    }
}

// True when (x, y) lies at least r pixels from every frame edge.
inline bool farFromEdge(int32_t x, int32_t y, int32_t w, int32_t h, int32_t r) {
    return x >= r && y >= r && x < w - r && y < h - r;
}

// Calls visit(k) for every offset k in 1..kNeckOffsets whose pixel is marked (1) in the byte
// plane marks (0 or 1 a pixel), for a pixel p = (x, y) at least reachUpTo[kNeckOffsets] from
// every frame edge, when discFits; the order of the calls is not the table's. Each row of the
// disc is read as two 8-byte words from its first pixel, so marks needs 16 bytes of room
// after its last pixel.
// With aheadOnly, only the offsets ahead of p in index order are visited.
template <typename Visit>
void forMarkedOffsets(const uint8_t* marks, const OffsetSteps& s, int32_t p, int32_t w, Visit visit,
                      bool aheadOnly = false) {
    const int reach = s.reachUpTo[kNeckOffsets];
    const uint16_t* rowMask = aheadOnly ? s.discRowAhead : s.discRow;
    for (int dy = aheadOnly ? 0 : -reach; dy <= reach; ++dy) {
        const uint8_t* at = marks + p + static_cast<int64_t>(dy) * w - reach;
        uint64_t lo, hi;
        std::memcpy(&lo, at, 8);
        std::memcpy(&hi, at + 8, 8);
        // Eight 0/1 bytes to eight bits, lowest address in the lowest bit.
        constexpr uint64_t kGather = 0x0102040810204080ull;
        uint32_t bits = static_cast<uint32_t>((lo * kGather) >> 56);
        bits |= static_cast<uint32_t>((hi * kGather) >> 56) << 8;
        bits &= rowMask[dy + reach];
        while (bits) {
            const int column = __builtin_ctz(bits);
            bits &= bits - 1;
            visit(s.offsetAt[dy + reach][column]);
        }
    }
}

// Calls visit(k) for every offset k in 1..kNeckOffsets of pixel p in a w x h frame whose pixel
// lies in the frame and is a target, in no set order. Far from the edges, and when marks is
// given (the targets as 1 bytes, as forMarkedOffsets needs them), the targets are read a disc
// row at a time; elsewhere isTarget(q) tests each offset's pixel q. With aheadOnly, only the
// offsets ahead of p in index order count.
template <typename IsTarget, typename Visit>
void forTargetsInDisc(const uint8_t* marks, const OffsetSteps& s, int32_t p, int32_t w, int32_t h, IsTarget isTarget,
                      Visit visit, bool aheadOnly = false) {
    const int32_t y = s.rows.row(p);
    const int32_t x = s.rows.column(p, y);
    const bool inside = farFromEdge(x, y, w, h, s.reachUpTo[kNeckOffsets]);
    if (inside && marks != nullptr) {
        forMarkedOffsets(marks, s, p, w, visit, aheadOnly);
        return;
    }
    for (int k = 1; k <= kNeckOffsets; ++k) {
        if (aheadOnly && !isAhead(s.dx[k], s.dy[k])) continue;
        if (!inside && !inFrame(x + s.dx[k], y + s.dy[k], w, h)) continue;
        if (isTarget(p + s.delta[k])) visit(k);
    }
}

}  // namespace vanto
