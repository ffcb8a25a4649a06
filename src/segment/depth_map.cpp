#include "segment/depth_map.h"

#include <algorithm>
#include <cstring>

namespace vanto {

namespace {

constexpr uint8_t kQueued = 1;

// level = the spill level of every pixel for the gray v(p) = gray[p] (Dark) or 255 - gray[p]
// (!Dark), by reconstruction from the border: border pixels drain where they stand, an inner
// pixel at max(v, lowest neighbour level). One forward and one backward raster pass settle
// most pixels; pixels that may still lower a neighbour go through a FIFO until nothing
// changes. queued marks the pixels in the queue, so it never holds more than w * h entries.
template <bool Dark>
void spillLevels(const uint8_t* gray, int32_t w, int32_t h, uint8_t* level, uint8_t* queued, int32_t* queue) {
    auto v = [gray](int32_t p) -> uint8_t { return Dark ? gray[p] : static_cast<uint8_t>(255 - gray[p]); };
    const int32_t n = w * h;
    for (int32_t p = 0; p < n; ++p) level[p] = v(p);
    if (w < 3 || h < 3) return;  // every pixel lies on the border
    for (int32_t y = 1; y < h - 1; ++y) std::fill(level + y * w + 1, level + y * w + w - 1, uint8_t{255});

    for (int32_t y = 1; y < h - 1; ++y) {
        for (int32_t p = y * w + 1, e = y * w + w - 1; p < e; ++p) {
            const uint8_t m = std::min({level[p], level[p - 1], level[p - w]});
            level[p] = std::max(v(p), m);
        }
    }
    std::memset(queued, 0, static_cast<size_t>(n));
    int32_t tail = 0;
    for (int32_t y = h - 2; y >= 1; --y) {
        for (int32_t p = y * w + w - 2, e = y * w; p > e; --p) {
            const uint8_t m = std::min({level[p], level[p + 1], level[p + w]});
            const uint8_t l = std::max(v(p), m);
            level[p] = l;
            // A neighbour already passed by both sweeps may still sit above l.
            const int32_t q1 = p + 1, q2 = p + w;
            if ((level[q1] > l && level[q1] > v(q1)) || (level[q2] > l && level[q2] > v(q2))) {
                queue[tail++] = p;
                queued[p] = kQueued;
            }
        }
    }

    // Circular FIFO over at most n entries. Border pixels never change and are never queued,
    // so every queued pixel has all four neighbours inside the frame.
    const int32_t delta[4] = {-w, -1, 1, w};
    int32_t head = 0;
    int32_t count = tail;
    tail %= n;
    while (count > 0) {
        const int32_t p = queue[head];
        head = head + 1 == n ? 0 : head + 1;
        --count;
        queued[p] = 0;
        const uint8_t l = level[p];
        for (int32_t d : delta) {
            const int32_t q = p + d;
            const uint8_t vq = v(q);
            if (level[q] > l && level[q] > vq) {
                level[q] = std::max(l, vq);
                if (!queued[q]) {
                    queued[q] = kQueued;
                    queue[tail] = q;
                    tail = tail + 1 == n ? 0 : tail + 1;
                    ++count;
                }
            }
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
    uint8_t* spill = bytes;
    uint8_t* peak = bytes + n;  // 255 - the peak level
    uint8_t* queued = bytes + 2 * static_cast<int64_t>(n);
    spillLevels<true>(gray, w, h, spill, queued, ws.scratchInts);
    spillLevels<false>(gray, w, h, peak, queued, ws.scratchInts);

    // A peak height larger than the depth replaces it, negated; a tie keeps the depth.
    int32_t* depth = ws.depthPlane;
    for (int32_t p = 0; p < n; ++p) {
        const int32_t d = spill[p] - gray[p];
        const int32_t height = peak[p] - (255 - gray[p]);
        depth[p] = height > d ? -height : d;
    }
}

}  // namespace vanto
