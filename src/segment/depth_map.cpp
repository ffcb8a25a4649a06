#include "segment/depth_map.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vanto {

namespace {

constexpr uint8_t kSpillQueued = 1;
constexpr uint8_t kPeakQueued = 2;

// The two level planes, both in gray units: spill[p] is the lowest, over 4-connected paths to
// the border, of the highest gray on the path; peak[p] the highest of the lowest. A border
// pixel's levels are its gray. They are found by reconstruction from the border: an inner
// pixel sits at max(gray, lowest neighbour spill) and at min(gray, highest neighbour peak).
struct LevelPlanes {
    const uint8_t* gray;
    int32_t w;
    int32_t h;
    uint8_t* spill;
    uint8_t* peak;
    uint8_t* queued;     // kSpillQueued | kPeakQueued marks of the pixels in each queue
    int32_t* spillQueue; // w * h entries each
    int32_t* peakQueue;
};

// Runs both planes along row r (pixels 1 .. w - 2) in one direction: each pixel takes the
// better of its own level and its predecessor's, bounded by its gray. The two planes run side
// by side, which hides the latency of the chain along the row.
//
// A pixel's step is a clamp of its predecessor's level z: spill max(g, min(s, z)) is z clamped
// to [g, max(g, s)], peak min(g, max(t, z)) is z clamped to [min(g, t), g]. Clamps compose into
// clamps, clamp(clamp(z, a, b), c, d) = clamp(z, clamp(a, c, d), clamp(b, c, d)), so sixteen
// pixels at a time are composed by a log-step scan (the identity clamp [0, 255] filling in),
// and only the block's composed clamp waits for the level carried in.
template <bool Rightward>
void runAlongRow(const uint8_t* g, uint8_t* s, uint8_t* t, int32_t r, int32_t w) {
    uint8_t sl = Rightward ? s[r] : s[r + w - 1];
    uint8_t tl = Rightward ? t[r] : t[r + w - 1];
    int32_t i = 1;
#if defined(__SSE2__)
    // The scan of one plane: lo and hi of each lane become those of its composed clamp.
    const auto scan = [](__m128i& lo, __m128i& hi) {
        const __m128i ones = _mm_set1_epi8(-1);
        const auto step = [&](auto shift) {
            // Predecessors' clamps, the identity where there is none.
            const __m128i lo0 = shift(lo, _mm_setzero_si128());
            const __m128i hi0 = shift(hi, ones);
            const __m128i newLo = _mm_min_epu8(_mm_max_epu8(lo0, lo), hi);
            hi = _mm_min_epu8(_mm_max_epu8(hi0, lo), hi);
            lo = newLo;
        };
        // Rightward, lane k follows lane k - 1 (bytes move to higher lanes); leftward the reverse.
        // fill gives the bytes shifted in: zero for lo, 255 for hi.
        const auto by = [](auto bytes) {
            return [](__m128i v, __m128i fill) {
                constexpr int n = decltype(bytes)::value;
                if constexpr (Rightward) {
                    return _mm_or_si128(_mm_slli_si128(v, n), _mm_srli_si128(fill, 16 - n));
                } else {
                    return _mm_or_si128(_mm_srli_si128(v, n), _mm_slli_si128(fill, 16 - n));
                }
            };
        };
        step(by(std::integral_constant<int, 1>{}));
        step(by(std::integral_constant<int, 2>{}));
        step(by(std::integral_constant<int, 4>{}));
        step(by(std::integral_constant<int, 8>{}));
    };
    for (; i + 16 <= w - 1; i += 16) {
        // Lanes in address order; rightward the block is r + i .. r + i + 15, leftward it ends
        // at r + w - 1 - i.
        const int32_t first = Rightward ? r + i : r + w - 1 - i - 15;
        const __m128i gv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + first));
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + first));
        const __m128i tv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + first));
        __m128i sLo = gv, sHi = _mm_max_epu8(gv, sv);
        __m128i tLo = _mm_min_epu8(gv, tv), tHi = gv;
        scan(sLo, sHi);
        scan(tLo, tHi);
        const __m128i sOut = _mm_min_epu8(_mm_max_epu8(_mm_set1_epi8(static_cast<char>(sl)), sLo), sHi);
        const __m128i tOut = _mm_min_epu8(_mm_max_epu8(_mm_set1_epi8(static_cast<char>(tl)), tLo), tHi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s + first), sOut);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(t + first), tOut);
        sl = Rightward ? static_cast<uint8_t>(_mm_extract_epi16(sOut, 7) >> 8)
                       : static_cast<uint8_t>(_mm_cvtsi128_si32(sOut));
        tl = Rightward ? static_cast<uint8_t>(_mm_extract_epi16(tOut, 7) >> 8)
                       : static_cast<uint8_t>(_mm_cvtsi128_si32(tOut));
    }
#endif
    for (; i < w - 1; ++i) {
        const int32_t p = Rightward ? r + i : r + w - 1 - i;
        sl = std::max(g[p], std::min(s[p], sl));
        tl = std::min(g[p], std::max(t[p], tl));
        s[p] = sl;
        t[p] = tl;
    }
}

// Each row takes the row above (forward) or below (backward) for every pixel at once.
void takeRow(const uint8_t* g, uint8_t* s, uint8_t* t, int32_t r, int32_t from, int32_t w) {
    for (int32_t x = 1; x < w - 1; ++x) {
        s[r + x] = std::max(g[r + x], std::min(s[r + x], s[from + x]));
        t[r + x] = std::min(g[r + x], std::max(t[r + x], t[from + x]));
    }
}

// Raster passes over both planes, forward and backward by turns, which settle most pixels.
// Each row takes the row before it, then runs along itself both ways, after which no pixel of
// the row can better a neighbour in the row. The last, backward, pass then queues every pixel
// that may still lower (raise) the pixel below it, already passed; the pixel above takes its
// level when its own row comes. Returns the two queue lengths.
std::pair<int32_t, int32_t> rasterPasses(const LevelPlanes& lp) {
    const int32_t w = lp.w, h = lp.h;
    const uint8_t* g = lp.gray;
    uint8_t* s = lp.spill;
    uint8_t* t = lp.peak;
    std::memcpy(s, g, static_cast<size_t>(w) * h);
    std::memcpy(t, g, static_cast<size_t>(w) * h);
    for (int32_t y = 1; y < h - 1; ++y) {
        std::fill(s + y * w + 1, s + y * w + w - 1, uint8_t{255});
        std::fill(t + y * w + 1, t + y * w + w - 1, uint8_t{0});
    }
    const auto forwardRow = [&](int32_t r) {
        takeRow(g, s, t, r, r - w, w);
        runAlongRow<true>(g, s, t, r, w);
        runAlongRow<false>(g, s, t, r, w);
    };
    const auto backwardRow = [&](int32_t r) {
        takeRow(g, s, t, r, r + w, w);
        runAlongRow<false>(g, s, t, r, w);
        runAlongRow<true>(g, s, t, r, w);
    };
    // A backward and a second forward pass settle most of what the first leaves, more cheaply
    // than the queue would.
    for (int32_t y = 1; y < h - 1; ++y) forwardRow(y * w);
    for (int32_t y = h - 2; y >= 1; --y) backwardRow(y * w);
    for (int32_t y = 1; y < h - 1; ++y) forwardRow(y * w);
    int32_t spillTail = 0, peakTail = 0;
    std::memset(lp.queued, 0, static_cast<size_t>(w) * h);
    for (int32_t y = h - 2; y >= 1; --y) {
        const int32_t r = y * w;
        backwardRow(r);
        for (int32_t p = r + 1; p < r + w - 1; ++p) {
            const int32_t q = p + w;
            // Bitwise, not short-circuit: the outcome follows the noise, so branches mispredict.
            const int lowers = (s[q] > s[p]) & (s[q] > g[q]);
            const int raises = (t[q] < t[p]) & (t[q] < g[q]);
            lp.spillQueue[spillTail] = p;
            lp.peakQueue[peakTail] = p;
            spillTail += lowers;
            peakTail += raises;
            lp.queued[p] = static_cast<uint8_t>(lowers * kSpillQueued | raises * kPeakQueued);
        }
    }
    return {spillTail, peakTail};
}

// Drains one plane's queue: a pixel lowers (Spill) or raises (!Spill) each neighbour whose
// level it improves, and queues it unless queued. Circular over n entries: border pixels never
// change and are never queued, so the queue never fills, and every queued pixel has all four
// neighbours inside the frame.
template <bool Spill>
void drainQueue(const LevelPlanes& lp, int32_t count) {
    const int32_t w = lp.w, n = lp.w * lp.h;
    const uint8_t* g = lp.gray;
    uint8_t* level = Spill ? lp.spill : lp.peak;
    int32_t* queue = Spill ? lp.spillQueue : lp.peakQueue;
    constexpr uint8_t kMark = Spill ? kSpillQueued : kPeakQueued;
    uint8_t* queued = lp.queued;
    int32_t head = 0;
    int32_t tail = count == n ? 0 : count;
    while (count > 0) {
        const int32_t p = queue[head];
        head = head + 1 == n ? 0 : head + 1;
        --count;
        queued[p] &= static_cast<uint8_t>(~kMark);
        const uint8_t l = level[p];
        for (const int32_t q : {p - w, p - 1, p + 1, p + w}) {
            const uint8_t gq = g[q];
            const uint8_t next = Spill ? std::max(l, gq) : std::min(l, gq);
            const uint8_t lq = level[q];
            const int better = Spill ? lq > next : lq < next;
            level[q] = better ? next : lq;
            const int push = better & ((queued[q] & kMark) == 0);
            queued[q] = static_cast<uint8_t>(queued[q] | push * kMark);
            queue[tail] = q;  // a free entry: the queue never fills
            tail += push;
            count += push;
            tail = tail == n ? 0 : tail;
        }
    }
}

}  // namespace

void computeDepthMap(SegmentScratch& ws, const uint8_t* gray) {
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    if (n <= 0) return;
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    // maskPlane holds 4 bytes a pixel: the two level planes and the queue marks.
    uint8_t* bytes = reinterpret_cast<uint8_t*>(ws.maskPlane);
    const LevelPlanes lp{gray, w, h, bytes, bytes + n, bytes + 2 * static_cast<int64_t>(n), ws.scratchInts,
                         ws.depthPlane};
    if (w < 3 || h < 3) {
        // Every pixel lies on the border: both levels are its gray.
        std::fill_n(ws.depthPlane, n, 0);
        return;
    }
    const auto [spillCount, peakCount] = rasterPasses(lp);
    drainQueue<true>(lp, spillCount);
    drainQueue<false>(lp, peakCount);

    // Depth below the spill level; a peak height above the peak level that is larger replaces
    // it, negated; a tie keeps the depth.
    int32_t* depth = ws.depthPlane;
    for (int32_t p = 0; p < n; ++p) {
        const int32_t d = lp.spill[p] - gray[p];
        const int32_t height = gray[p] - lp.peak[p];
        depth[p] = height > d ? -height : d;
    }
}

}  // namespace vanto
