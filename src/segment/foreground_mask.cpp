#include "segment/foreground_mask.h"

#include <algorithm>

#include "segment/flood_fill.h"

namespace vanto {

namespace {

constexpr int32_t kBright = 0;
constexpr int32_t kShallow = 1;
constexpr int32_t kBridge = 2;
constexpr int32_t kSpeck = 3;
constexpr int32_t kDeep = 4;
constexpr int32_t kDeepSeen = 5;  // deep, in an area already measured
constexpr int32_t kBrightLabel = 10;
constexpr int32_t kSpeckLimit = 10;  // deep areas of fewer pixels are specks

// Deep 4-connected areas of fewer than kSpeckLimit pixels become specks; the others are left
// as kDeepSeen, which the growth reads as deep.
void setSpecksApart(SegmentScratch& ws) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    int32_t* cls = ws.workPlane;
    for (int32_t p = 0; p < n; ++p) {
        if (cls[p] != kDeep) continue;
        // Areas are parted by other classes, so the seen pixels beside a run are its own.
        RunFill area(
            w, h, ws.scratchInts, false, [=](int32_t q) { return cls[q] == kDeep; },
            [=](int32_t q) { cls[q] = kDeepSeen; }, [=](int32_t q) { return cls[q] == kDeepSeen; });
        area.seedPixel(p);
        if (area.spread() >= kSpeckLimit) continue;
        RunFill speck(
            w, h, ws.scratchInts, false, [=](int32_t q) { return cls[q] == kDeepSeen; },
            [=](int32_t q) { cls[q] = kSpeck; }, [=](int32_t q) { return cls[q] == kSpeck; });
        speck.seedPixel(p);
        speck.spread();
    }
}

// Shallow pixels take the largest class of their 4-neighbours (read from the first class
// plane, so the growth does not chain); bright pixels are stored as 10, deep ones as kDeep.
void growIntoShallow(SegmentScratch& ws, const OffsetSteps& s) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t* cls = ws.workPlane;
    int32_t* seg = ws.segLabels;
    auto edgePixel = [&](int32_t x, int32_t y) {
        const int32_t p = y * w + x;
        int32_t c = cls[p];
        if (c == kShallow) {
            for (int k = 1; k <= kFourNeighbours; ++k) {
                if (inFrame(x + s.dx[k], y + s.dy[k], w, h)) c = std::max(c, cls[p + s.delta[k]]);
            }
        } else if (c == kBright) {
            c = kBrightLabel;
        }
        seg[p] = c == kDeepSeen ? kDeep : c;
    };
    for (int32_t y = 0; y < h; ++y) {
        if (y == 0 || y == h - 1 || w < 3) {
            for (int32_t x = 0; x < w; ++x) edgePixel(x, y);
            continue;
        }
        edgePixel(0, y);
        // Inner pixels without branches, so that the row vectorises: the classes are 0 to 5.
        const int32_t* c = cls + y * w;
        int32_t* out = seg + y * w;
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t own = c[x];
            const int32_t grown = std::max({own, c[x - 1], c[x + 1], c[x - w], c[x + w]});
            const int32_t deep = std::min(own == kShallow ? grown : own, kDeep);
            out[x] = own == kBright ? kBrightLabel : deep;
        }
        edgePixel(w - 1, y);
    }
}

// Deep pixels on the edge of shallow ground are joined to deep or speck pixels within the
// 88-offset disc by painting the shallow pixels of the straight line between them. A line is
// refused when an inner point, or both corners of a diagonal step, are deep or bright.
// Painting only turns classes 1 and 2 into 2, which no test of this step tells apart, so the
// pairs may be taken in any order.
void bridgeGaps(SegmentScratch& ws, const OffsetSteps& s) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    int32_t* seg = ws.segLabels;
    const int32_t reach = s.reachUpTo[kNeckOffsets];
    auto bridge = [&](int32_t p, int k) {
        if (!lineOpen(seg, s, p, k, [](int32_t v) { return v >= kDeep; })) return;
        paintLine(seg, s, p, k, [](int32_t& v) {
            if (v < kSpeck) v = kBridge;
        });
    };
    // Deep and speck pixels as bytes (in maskPlane, free here), for the pixels far from the
    // edges to find theirs a disc row at a time, and the deep pixels beside shallow ground
    // listed. Painting never makes or unmakes either, nor takes shallow ground away.
    const bool byRows = s.discFits && w > 2 * reach && h > 2 * reach;
    uint8_t* targets = reinterpret_cast<uint8_t*>(ws.maskPlane);
    int32_t* list = ws.scratchInts;
    int32_t count = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0, p = y * w; x < w; ++x, ++p) {
            const int32_t v = seg[p];
            if (byRows) targets[p] = (v == kSpeck) | (v == kDeep);
            if (v != kDeep) continue;
            bool nearShallow = false;
            for (int k = 1; k <= kFourNeighbours && !nearShallow; ++k) {
                nearShallow = inFrame(x + s.dx[k], y + s.dy[k], w, h) && seg[p + s.delta[k]] < kSpeck;
            }
            if (nearShallow) list[count++] = p;
        }
    }
    if (byRows) std::fill_n(targets + ws.pixelCount, 16, uint8_t{0});  // room for the last row's reads
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = list[i];
        forTargetsInDisc(
            byRows ? targets : nullptr, s, p, w, h, [seg](int32_t q) { return seg[q] == kSpeck || seg[q] == kDeep; },
            [&](int k) { bridge(p, k); });
    }
}

// 8-connected background areas that touch no frame edge become foreground: the background
// reachable from the frame border is marked kReached, and what is left is enclosed.
void fillEnclosedBackground(SegmentScratch& ws) {
    constexpr uint8_t kReached = 2;
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    // Foreground (1) and background (0) as bytes, in workPlane, whose classes are spent.
    uint8_t* fg = reinterpret_cast<uint8_t*>(ws.workPlane);
    const int32_t* seg = ws.segLabels;
    for (int32_t p = 0; p < n; ++p) fg[p] = seg[p] >= kBridge && seg[p] <= kDeep;
    RunFill fill(w, h, ws.scratchInts, true, BytePlaneTests{fg, 0, kReached});
    fill.spreadFromBorder();
    int32_t* mask = ws.maskPlane;
    for (int32_t p = 0; p < n; ++p) mask[p] = fg[p] != kReached;
}

}  // namespace

void buildForegroundMask(SegmentScratch& ws, int32_t threshold) {
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    if (n <= 0) return;
    OffsetSteps s;
    buildOffsetSteps(ws.tables, ws.width, s);

    const int32_t* depth = ws.depthPlane;
    int32_t* cls = ws.workPlane;
    for (int32_t p = 0; p < n; ++p) cls[p] = depth[p] > threshold ? kDeep : depth[p] >= 0 ? kShallow : kBright;

    setSpecksApart(ws);
    growIntoShallow(ws, s);
    bridgeGaps(ws, s);
    fillEnclosedBackground(ws);
}

}  // namespace vanto
