#pragma once
#include <cstdint>

#include "model/neighbourhood_tables.h"

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
};

void buildOffsetSteps(const NeighbourhoodTables& t, int32_t width, OffsetSteps& s);

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

}  // namespace vanto
