#include "segment/region_completion.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "model/plane_scan.h"
#include "segment/enclosed_areas.h"
#include "segment/flood_fill.h"

namespace vanto {

namespace {

static_assert(std::endian::native == std::endian::little, "mark words are read lowest byte first");

constexpr int32_t kFree = -2;
constexpr int32_t kMergeBelow = 160;  // regions of smaller recorded size are merged
constexpr int32_t kMinContacts = 2;   // a merge target needs at least this many contacts

// Line of sight from p to p + offset k over plane L: every point after the far end is free
// and no diagonal step has both corners taken. The callers test only pixels p that are free
// themselves, so the inner points and corners decide.
inline bool clearLine(const int32_t* L, const OffsetSteps& s, int32_t p, int k) {
    return lineOpen(L, s, p, k, [](int32_t v) { return v != kFree; });
}

// Copies `from` into `to`; each free pixel takes the label (>= 0) of the first of its
// offsets 1..offsets, in table order, that lies in the frame and in clear line of sight over
// `from`. Labels are read from `from` only, so they do not spread within a pass. Free pixels
// with no label in the square that holds all their offsets are passed over at once (maskPlane
// holds those marks as bytes).
void growAlongLines(SegmentScratch& ws, const OffsetSteps& s, const int32_t* from, int32_t* to, int offsets) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t reach = s.reachUpTo[offsets];
    uint8_t* near = reinterpret_cast<uint8_t*>(ws.maskPlane);
    markFreeNearLabels(from, w, h, reach, near + ws.pixelCount, near);
    std::copy_n(from, ws.pixelCount, to);
    const auto grow = [&](int32_t x, int32_t y) {
        const int32_t p = y * w + x;
        const bool inside = farFromEdge(x, y, w, h, reach);
        for (int k = 1; k <= offsets; ++k) {
            if (!inside && !inFrame(x + s.dx[k], y + s.dy[k], w, h)) continue;
            const int32_t l = from[p + s.delta[k]];
            if (l < 0 || !clearLine(from, s, p, k)) continue;
            to[p] = l;
            break;
        }
    };
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = near + static_cast<int64_t>(y) * w;
        // Eight marks at a time (the first in the lowest byte): most words of a row hold none.
        int32_t x = 0;
        for (; x + 8 <= w; x += 8) {
            uint64_t word;
            std::memcpy(&word, row + x, 8);
            for (; word != 0; word &= word - 1) grow(x + (std::countr_zero(word) >> 3), y);
        }
        for (; x < w; ++x) {
            if (row[x]) grow(x, y);
        }
    }
}

// Regions of recorded size below kMergeBelow go, one 4-connected piece at a time, to the
// neighbouring label with most contacts (at least kMinContacts; the earlier first contact wins
// ties). workPlane marks a filled pixel with the label it was filled for; maskPlane maps a
// label to its candidate record in regionScratch (-1 when not listed).
void mergeSmallRegions(SegmentScratch& ws, const OffsetSteps& s) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    int32_t* seg = ws.segLabels;
    int32_t* mark = ws.workPlane;
    int32_t* queue = ws.scratchInts;
    int32_t* regionSize = ws.regionSize;
    int32_t* candidates = ws.regionScratch;  // (label, contacts) records
    int32_t* recordOf = ws.maskPlane;
    std::fill_n(mark, n, -1);
    std::fill_n(recordOf, std::min(ws.regionCount, n), -1);
    for (int32_t p = 0; p < n; ++p) {
        const int32_t a = seg[p];
        if (mark[p] != -1 || a < 0 || regionSize[a] >= kMergeBelow) continue;
        int32_t listed = 0;
        mark[p] = a;
        const int32_t tail = floodFill(s, w, h, queue, p, kFourNeighbours, [&](int32_t q) {
            if (q < 0) return false;
            const int32_t b = seg[q];
            if (b == a) {
                if (mark[q] == a) return false;
                mark[q] = a;
                return true;
            }
            if (b >= 0) {
                int32_t r = recordOf[b];
                if (r < 0) {
                    r = listed++;
                    recordOf[b] = r;
                    candidates[2 * r] = b;
                    candidates[2 * r + 1] = 0;
                }
                ++candidates[2 * r + 1];
            }
            return false;
        });
        int32_t target = -1;
        int32_t most = kMinContacts - 1;
        for (int32_t r = 0; r < listed; ++r) {
            if (candidates[2 * r + 1] > most) {
                most = candidates[2 * r + 1];
                target = candidates[2 * r];
            }
            recordOf[candidates[2 * r]] = -1;
        }
        if (target < 0) continue;
        for (int32_t i = 0; i < tail; ++i) seg[queue[i]] = target;
        regionSize[target] += regionSize[a];
    }
}

}  // namespace

// Byte planes and shifted ORs, so that every
// loop runs over whole rows without branches; the rows of the square are added up a column at
// a time as the square slides down (one row in, one row out), so that each output row reads two
// rows and not 2r + 1.
void markFreeNearLabels(const int32_t* from, int32_t w, int32_t h, int32_t r, uint8_t* scratch, uint8_t* near) {
    uint8_t* rowNear = scratch + static_cast<int64_t>(w) * h;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* row = from + static_cast<int64_t>(y) * w;
        // This row's labels, as bytes, in its own row of near (written again below).
        uint8_t* in = near + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) in[x] = row[x] >= 0;
        uint8_t* out = rowNear + static_cast<int64_t>(y) * w;
        std::copy_n(in, w, out);
        for (int32_t d = 1; d <= r && d < w; ++d) {
            for (int32_t x = 0; x < w - d; ++x) out[x] |= in[x + d];
            for (int32_t x = d; x < w; ++x) out[x] |= in[x - d];
        }
    }
    // count[x]: rows of the square around (x, y) with a label in their span; at most
    // 2r + 1 <= 255 (r is an offset's reach, below 128).
    uint8_t* count = scratch;
    startColumnSums(count, rowNear, w, h, r);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* out = near + static_cast<int64_t>(y) * w;
        const int32_t* row = from + static_cast<int64_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>((count[x] != 0) & (row[x] == kFree));
        nextColumnSums(count, rowNear, w, h, y, r);
    }
}

void completeRegions(SegmentScratch& ws) {
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    if (n <= 0) return;
    OffsetSteps s;
    buildOffsetSteps(ws.tables, ws.width, s);
    int32_t* seg = ws.segLabels;
    int32_t* work = ws.workPlane;

    // Shallow ground within the growth disc joins a region it sees along a free line.
    growAlongLines(ws, s, ws.frameLabels, seg, kGrowthOffsets);
    // Every pixel outside a region is free ground from here on.
    for (int32_t p = 0; p < n; ++p) work[p] = seg[p] >= 0 ? seg[p] : kFree;
    // One more pixel of growth into any free ground.
    growAlongLines(ws, s, work, seg, kEightNeighbours);

    mergeSmallRegions(ws, s);
    // Unlabelled pockets inside one label take it.
    uint8_t* state = reinterpret_cast<uint8_t*>(ws.maskPlane);
    for (int32_t p = 0; p < n; ++p) state[p] = seg[p] >= 0 ? kAreaLabelled : kAreaUnseen;
    fillEnclosedAreas(seg, state, work, ws.scratchInts, s, ws.width, ws.height);
}

}  // namespace vanto
