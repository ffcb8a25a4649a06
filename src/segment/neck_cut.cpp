#include "segment/neck_cut.h"

#include <algorithm>

#include "segment/flood_fill.h"

namespace vanto {

namespace {

constexpr int32_t kOutline = -1;
constexpr int32_t kCut = 2;
constexpr int32_t kLabelCut = -3;
constexpr int32_t kLabelShallow = -2;
constexpr int32_t kLabelOther = -1;
constexpr int32_t kDeepPieceDepth = 23;  // a cut piece whose seed is deeper becomes a region

// Background pixels 4-adjacent to foreground become outline. Their indices go to list (in no
// useful order); when outline is given, it receives them as 1 bytes on 0. Returns their count.
int32_t markOutline(SegmentScratch& ws, const OffsetSteps& s, int32_t* list, uint8_t* outline) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    int32_t* mask = ws.maskPlane;
    if (outline != nullptr) std::fill_n(outline, ws.pixelCount, uint8_t{0});
    int32_t count = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0, p = y * w; x < w; ++x, ++p) {
            if (mask[p] != 1) continue;
            for (int k = 1; k <= kFourNeighbours; ++k) {
                if (!inFrame(x + s.dx[k], y + s.dy[k], w, h)) continue;
                const int32_t q = p + s.delta[k];
                if (mask[q] != 0) continue;
                mask[q] = kOutline;
                list[count++] = q;
                if (outline != nullptr) outline[q] = 1;
            }
        }
    }
    return count;
}

// Two outline pixels within the 88-offset disc whose straight line runs through foreground
// only (inner points at least 1, no diagonal step with both corners below 1) cut the
// foreground pixels of that line. Cuts keep counting as foreground, so the tests are the same
// whether they see earlier cuts or not, and the pairs may be taken in any order. Both ends are
// outline, so when the rays read the same from either end each pair is taken once, from its
// earlier pixel.
void cutNecks(SegmentScratch& ws, const OffsetSteps& s) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    int32_t* mask = ws.maskPlane;
    const int32_t reach = s.reachUpTo[kNeckOffsets];
    auto cut = [&](int32_t p, int k) {
        if (!lineOpen(mask, s, p, k, [](int32_t v) { return v < 1; })) return;
        paintLine(mask, s, p, k, [](int32_t& v) {
            if (v == 1) v = kCut;
        });
    };
    // Outline pixels as bytes (in workPlane, free here), for the pixels far from the edges to
    // find theirs a disc row at a time. Cutting never makes or unmakes outline.
    const bool byRows = s.discFits && w > 2 * reach && h > 2 * reach;
    uint8_t* outline = byRows ? reinterpret_cast<uint8_t*>(ws.workPlane) : nullptr;
    int32_t* list = ws.scratchInts;
    const int32_t count = markOutline(ws, s, list, outline);
    if (byRows) std::fill_n(outline + ws.pixelCount, 16, uint8_t{0});  // room for the last row's reads
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = list[i];
        forTargetsInDisc(
            outline, s, p, w, h, [mask](int32_t q) { return mask[q] == kOutline; }, [&](int k) { cut(p, k); },
            s.raysMirror);
    }
}

// Gives label to the 4-connected pixels around seed p (open) for which open(q) holds; labels
// must leave open(q) false. Returns the pixel count.
template <typename Open>
int32_t fillRegion(SegmentScratch& ws, int32_t p, int32_t label, Open open) {
    int32_t* labels = ws.frameLabels;
    RunFill fill(
        ws.width, ws.height, ws.scratchInts, false, open, [labels, label](int32_t q) { labels[q] = label; },
        [labels, label](int32_t q) { return labels[q] == label; });
    fill.seedPixel(p);
    return static_cast<int32_t>(fill.spread());
}

// One breadth-first growth from every labelled pixel at once, in index order: each cut pixel
// goes to the region that reaches it first. Region sizes stay as labelled. Cut pixels only
// ever stop being cut, so a labelled pixel with no cut neighbour at the start never gains one:
// taking it from the queue would change nothing, and it is left out. queue holds those with
// one, seeds of them, in index order, and has room for every pixel.
void handCutsBack(SegmentScratch& ws, const OffsetSteps& s, int32_t* queue, int32_t seeds) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    int32_t* labels = ws.frameLabels;
    const PixelRows rows(w);
    int32_t tail = seeds;
    for (int32_t head = 0; head < tail; ++head) {
        const int32_t c = queue[head];
        const int32_t y = rows.row(c);
        const int32_t x = rows.column(c, y);
        for (int k = 1; k <= kFourNeighbours; ++k) {
            if (!inFrame(x + s.dx[k], y + s.dy[k], w, h)) continue;
            const int32_t q = c + s.delta[k];
            if (labels[q] == kLabelCut) {
                labels[q] = labels[c];
                queue[tail++] = q;
            }
        }
    }
}

}  // namespace

int32_t cutNecksAndLabel(SegmentScratch& ws) {
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    int32_t regionCount = 0;
    if (n <= 0) {
        ws.regionCount = 0;
        return 0;
    }
    OffsetSteps s;
    buildOffsetSteps(ws.tables, ws.width, s);
    int32_t* mask = ws.maskPlane;
    int32_t* labels = ws.frameLabels;
    const int32_t* seg = ws.segLabels;
    const int32_t* depth = ws.depthPlane;
    int32_t* regionSize = ws.regionSize;

    cutNecks(ws, s);

    // 4-connected regions of uncut foreground, numbered in raster order. A region's pixels all
    // follow its first, and the pixels before a region's first are never open to its fill, so
    // when the scan passes a pixel its label is final: unlabelled pixels take their class
    // there, and labelled pixels beside a cut pixel (mask kCut: never labelled) are listed, in
    // index order, for the hand-back, and so are the cut pixels, for the pieces left over.
    std::fill_n(labels, n, -1);
    const auto uncut = [mask, labels](int32_t q) { return mask[q] == 1 && labels[q] == -1; };
    int32_t* handBack = ws.regionScratch;      // n entries
    int32_t* cutPixels = handBack + n + 1;     // n + 1 entries
    int32_t seeds = 0;
    int32_t cuts = 0;
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0, p = y * w; x < w; ++x, ++p) {
            if (uncut(p)) {
                regionSize[regionCount] = fillRegion(ws, p, regionCount, uncut);
                ++regionCount;
            }
            if (labels[p] < 0) {
                labels[p] = mask[p] == kCut ? kLabelCut : seg[p] == 1 ? kLabelShallow : kLabelOther;
                if (mask[p] == kCut) cutPixels[cuts++] = p;
                continue;
            }
            bool nextToCut = false;
            for (int k = 1; k <= kFourNeighbours && !nextToCut; ++k) {
                nextToCut = inFrame(x + s.dx[k], y + s.dy[k], w, h) && mask[p + s.delta[k]] == kCut;
            }
            if (nextToCut) handBack[seeds++] = p;
        }
    }
    handCutsBack(ws, s, handBack, seeds);

    // Cut pieces left over whose seed (first pixel) lies deep become regions of recorded size 0.
    for (int32_t i = 0; i < cuts; ++i) {
        const int32_t p = cutPixels[i];
        if (labels[p] != kLabelCut || depth[p] <= kDeepPieceDepth) continue;
        fillRegion(ws, p, regionCount, [labels](int32_t q) { return labels[q] == kLabelCut; });
        regionSize[regionCount] = 0;
        ++regionCount;
    }

    ws.regionCount = regionCount;
    return regionCount;
}

}  // namespace vanto
