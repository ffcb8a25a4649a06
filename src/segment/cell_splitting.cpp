#include "segment/cell_splitting.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "model/records.h"
#include "model/vector_clones.h"
#include "segment/gaussian_smoothing.h"

namespace vanto {

namespace {

// A pixel as one sortable number: its squared distance above, its index reversed below, so
// that the larger key is the higher pixel and, at equal height, the lower index.
constexpr int64_t kIndexBits = 0xFFFFFFFFll;
int64_t keyOf(int64_t d2, int64_t p) { return (d2 << 32) | (kIndexBits - p); }
int32_t pixelOf(int64_t key) { return static_cast<int32_t>(kIndexBits - (key & kIndexBits)); }

// One cell's box, widened by one pixel on each side (that ring holds no pixel of the cell).
struct Box {
    int32_t x0, y0;  // frame position of the box's first pixel (the ring's corner)
    int32_t bw, bh;  // box width and height, ring included
};

// Rows whose vertical distances are all at most this are finished by shallowRowDistances, the
// deeper ones by the lower envelope of parabolas.
constexpr int32_t kShallowRow = 48;

// A row whose vertical distances g are all at most deepest (<= kShallowRow): row[x] becomes
// min over k of k^2 + g[x + k]^2. No k with k^2 at or above g[x]^2 can lower row[x] below
// g[x]^2, so k runs to deepest - 1, for the whole row at once, each side in a loop of its own
// (the box's ring, where g is 0, bounds every row's minimum). squares: bw entries of scratch.
VANTO_WITH_AVX2_CLONE void shallowRowDistances(int32_t* __restrict row, int32_t* __restrict squares, int32_t bw,
                                               int32_t deepest) {
    for (int32_t x = 0; x < bw; ++x) {
        squares[x] = row[x] * row[x];
        row[x] = squares[x];
    }
    for (int32_t k = 1; k < deepest; ++k) {
        const int32_t kk = k * k;
        for (int32_t x = k; x < bw; ++x) row[x] = std::min(row[x], kk + squares[x - k]);
        for (int32_t x = 0; x + k < bw; ++x) row[x] = std::min(row[x], kk + squares[x + k]);
    }
}

// A column pass, then the lower envelope of parabolas along each row (Meijster, Roerdink and
// Hesselink 2000), in integers of type Wide, which must hold bw^2 + bh^2.
template <typename Wide>
void distanceTransformIn(const int32_t* labels, int32_t w, int32_t c, const Box& b, int32_t* d2, int32_t* envelope) {
    const int32_t bw = b.bw, bh = b.bh;
    // Column pass, a row at a time: d2 holds the vertical distance g to the nearest pixel not
    // of the cell, first from above, then from below. The ring around the box holds none.
    std::fill_n(d2, bw, 0);
    for (int32_t ly = 1; ly < bh - 1; ++ly) {
        int32_t* row = d2 + static_cast<int64_t>(ly) * bw;
        const int32_t* above = row - bw;
        const int32_t* frameRow = labels + static_cast<int64_t>(b.y0 + ly) * w + (b.x0 + 1);  // at lx = 1
        row[0] = 0;
        for (int32_t lx = 1; lx < bw - 1; ++lx) row[lx] = frameRow[lx - 1] == c ? above[lx] + 1 : 0;
        row[bw - 1] = 0;
    }
    std::fill_n(d2 + static_cast<int64_t>(bh - 1) * bw, bw, 0);
    for (int32_t ly = bh - 2; ly >= 1; --ly) {
        int32_t* row = d2 + static_cast<int64_t>(ly) * bw;
        const int32_t* below = row + bw;
        for (int32_t lx = 1; lx < bw - 1; ++lx) row[lx] = std::min(row[lx], below[lx] + 1);
    }
    // Row pass: d2(x) = min over i of (x - i)^2 + g(i)^2.
    int32_t* site = envelope;            // columns whose parabolas form the envelope
    int32_t* start = envelope + bw;      // where each of them begins to be the lowest
    int32_t* g = envelope + 2 * bw;      // the row's vertical distances
    for (int32_t ly = 1; ly < bh - 1; ++ly) {  // the first and last rows are 0 throughout
        int32_t* row = d2 + static_cast<int64_t>(ly) * bw;
        int32_t deepest = 0;
        for (int32_t x = 0; x < bw; ++x) {
            g[x] = row[x];
            deepest = std::max(deepest, row[x]);
        }
        if (deepest <= kShallowRow) {
            shallowRowDistances(row, envelope, bw, deepest);
            continue;
        }
        const auto f = [&](Wide x, Wide i) { return (x - i) * (x - i) + Wide{g[i]} * g[i]; };
        // The first x from which parabola u lies at or below parabola i (i < u), rounded down.
        const auto sep = [&](Wide i, Wide u) {
            const Wide num = u * u - i * i + Wide{g[u]} * g[u] - Wide{g[i]} * g[i];
            const Wide den = 2 * (u - i);
            return num >= 0 ? num / den : -((-num + den - 1) / den);
        };
        int32_t q = 0;
        site[0] = 0;
        start[0] = 0;
        for (int32_t u = 1; u < bw; ++u) {
            while (q >= 0 && f(start[q], site[q]) > f(start[q], u)) --q;
            if (q < 0) {
                q = 0;
                site[0] = u;
            } else {
                const Wide x = 1 + sep(site[q], u);
                if (x < bw) {
                    ++q;
                    site[q] = u;
                    start[q] = static_cast<int32_t>(x);
                }
            }
        }
        for (int32_t x = bw - 1; x >= 0; --x) {
            const Wide value = f(x, site[q]);
            if (x == start[q]) --q;
            row[x] = static_cast<int32_t>(value);
        }
    }
}

void distanceTransform(const int32_t* labels, int32_t w, int32_t c, const Box& b, int32_t* d2, int32_t* envelope) {
    // 32 bits hold 2 * 16384^2; wider boxes take 64.
    if (b.bw <= 16384 && b.bh <= 16384) distanceTransformIn<int32_t>(labels, w, c, b, d2, envelope);
    else distanceTransformIn<int64_t>(labels, w, c, b, d2, envelope);
}

// The 4-neighbours of p in cell c, by index. atEdge: whether the cell touches the frame's edge;
// when it does not, every neighbour of its pixels lies in the frame.
template <typename Visit>
void forNeighbours(const int32_t* labels, int32_t w, int32_t h, int32_t c, int32_t p, bool atEdge, Visit visit) {
    if (!atEdge) {
        if (labels[p - w] == c) visit(p - w);
        if (labels[p - 1] == c) visit(p - 1);
        if (labels[p + 1] == c) visit(p + 1);
        if (labels[p + w] == c) visit(p + w);
        return;
    }
    const int32_t x = p % w, y = p / w;
    if (y > 0 && labels[p - w] == c) visit(p - w);
    if (x > 0 && labels[p - 1] == c) visit(p - 1);
    if (x + 1 < w && labels[p + 1] == c) visit(p + 1);
    if (y + 1 < h && labels[p + w] == c) visit(p + w);
}

// Whether a path of pixels no lower than low (>= 1) leads from box index start to a pixel
// that comes before it (higher, or as high and of lower index). The search marks the pixels
// it reached by negating them in d2 (put back before it returns), with queue as its list.
// d2: the cell's box, bw wide, 0 off the cell and in the ring around the box.
bool reachesAPixelBefore(int32_t* d2, int32_t bw, int32_t start, int32_t low, int64_t* queue) {
    const int32_t height = d2[start];
    int32_t reached = 0;
    queue[reached++] = start;
    d2[start] = -height;
    bool before = false;
    for (int32_t i = 0; i < reached && !before; ++i) {
        const int32_t u = static_cast<int32_t>(queue[i]);
        for (const int32_t v : {u - bw, u - 1, u + 1, u + bw}) {
            const int32_t hv = d2[v];  // 0 off the cell (the box's ring included), < 0 once reached
            if (hv < low) continue;
            if (hv > height || (hv == height && v < start)) {
                before = true;
                break;
            }
            d2[v] = -hv;
            queue[reached++] = v;
        }
    }
    for (int32_t i = 0; i < reached; ++i) d2[queue[i]] = -d2[queue[i]];
    return before;
}

// Whether the maximum at box index start (a pixel at deep or above, not the cell's highest) is
// a seed. Sweep down through the heights joining 4-neighbours into pieces: the piece that
// starts at start ends where it first meets a piece of a higher pixel, and its dynamic is
// sqrt(its height) - sqrt(the height it meets at). That dynamic is below minDynamic exactly
// when the meeting height is at least low, the least height for which it is: when a path of
// pixels no lower than low leads from start to a pixel that comes before it. d2: the cell's
// box, bw wide, 0 off the cell.
bool isSeed(int32_t* d2, int32_t bw, int32_t start, double minDynamic, int64_t* queue) {
    const int32_t height = d2[start];
    const double level = std::sqrt(static_cast<double>(height));
    const auto dynamicAt = [&](int32_t meet) { return level - std::sqrt(static_cast<double>(meet)); };
    int32_t low = std::max(1, static_cast<int32_t>(std::ceil((level - minDynamic) * (level - minDynamic))) - 2);
    while (low > 1 && dynamicAt(low - 1) < minDynamic) --low;
    while (dynamicAt(low) >= minDynamic) ++low;
    return !reachesAPixelBefore(d2, bw, start, low, queue);
}

}  // namespace

void cellEdgeDistances(const int32_t* labels, int32_t w, int32_t c, int32_t minX, int32_t minY, int32_t maxX,
                       int32_t maxY, int32_t* d2, int32_t* envelope) {
    distanceTransform(labels, w, c, Box{minX - 1, minY - 1, maxX - minX + 3, maxY - minY + 3}, d2, envelope);
}

int32_t splitTouchingCells(int32_t* labels, int32_t w, int32_t h, const int32_t* cellTable, int32_t count,
                           double minDynamic, const SplitPlanes& planes) {
    int32_t* marks = planes.marks;
    int32_t* heights = planes.heights;
    int64_t* order = planes.order;
    int64_t* queue = planes.queue;
    int32_t nextNumber = count;
    int32_t divided = 0;
    // The least squared distance whose maxima can have a dynamic of minDynamic: every pixel of
    // a cell is at distance 1 or more, so no dynamic exceeds sqrt(height) - 1 (the rounding of
    // each step keeps that order).
    int64_t deep = 1;
    while (std::sqrt(static_cast<double>(deep)) - 1.0 < minDynamic) ++deep;
    for (int32_t c = 0; c < count; ++c) {
        const int32_t* rec = cellRecord(cellTable, c);
        const Box box{rec[CellWord::minX] - 1, rec[CellWord::minY] - 1, rec[CellWord::maxX] - rec[CellWord::minX] + 3,
                      rec[CellWord::maxY] - rec[CellWord::minY] + 3};
        distanceTransform(labels, w, c, box, planes.distance, planes.envelope);
        const bool atEdge = box.x0 < 0 || box.y0 < 0 || box.x0 + box.bw > w || box.y0 + box.bh > h;

        // A piece of the sweep (see isSeed) starts at each pixel none of whose neighbours comes
        // before it (higher, or as high and of lower index); only a piece that starts at deep
        // or above can be a seed, and the highest pixel always starts one. The other such
        // starts gather in order (as box indices).
        int32_t deepStarts = 0;
        int32_t top = -1, topHeight = 0;
        for (int32_t ly = 1; ly < box.bh - 1; ++ly) {
            const int32_t* row = planes.distance + static_cast<int64_t>(ly) * box.bw;
            const int32_t* above = row - box.bw;
            const int32_t* below = row + box.bw;
            for (int32_t lx = 1; lx < box.bw - 1; ++lx) {
                const int32_t v = row[lx];
                if (v < deep || above[lx] >= v || row[lx - 1] >= v || row[lx + 1] > v || below[lx] > v) continue;
                order[deepStarts++] = ly * box.bw + lx;
                if (v > topHeight) {
                    topHeight = v;
                    top = ly * box.bw + lx;
                }
            }
        }
        // The seeds: the highest pixel, and each other deep start whose search finds it one
        // (every start when minDynamic <= 0), gathered over the starts already read. A cell
        // with no seed but the highest is left as it is.
        int32_t seeds = 0;
        for (int32_t i = 0; i < deepStarts; ++i) {
            const auto start = static_cast<int32_t>(order[i]);
            if (start != top && (minDynamic <= 0 || isSeed(planes.distance, box.bw, start, minDynamic, queue)))
                order[seeds++] = start;
        }
        if (seeds == 0) continue;
        order[seeds++] = top;

        // The cell's pixels: their heights (in heights, the flood's only view of the distance
        // plane, which then takes the seeds as frame pixels) and their count at each height.
        int32_t highest = 0;
        for (int32_t ly = 1; ly < box.bh - 1; ++ly) {
            const int32_t* row = planes.distance + static_cast<int64_t>(ly) * box.bw;
            for (int32_t lx = 1; lx < box.bw - 1; ++lx) {
                const int32_t p = (box.y0 + ly) * w + box.x0 + lx;
                if (labels[p] != c) continue;
                heights[p] = row[lx];
                marks[p] = -1;
                highest = std::max(highest, row[lx]);
            }
        }
        int32_t* seedPixels = planes.distance;
        for (int32_t i = 0; i < seeds; ++i)
            seedPixels[i] = (box.y0 + static_cast<int32_t>(order[i]) / box.bw) * w + box.x0 +
                            static_cast<int32_t>(order[i]) % box.bw;
        // A pixel at squared distance k has every pixel nearer than sqrt(k) in its cell, at
        // least k of them, so highest is below the cell's size and the counts fit in queue.
        std::fill_n(queue, highest + 1, 0);
        for (int32_t ly = 1; ly < box.bh - 1; ++ly)
            for (int32_t lx = 1; lx < box.bw - 1; ++lx) {
                const int32_t p = (box.y0 + ly) * w + box.x0 + lx;
                if (labels[p] == c) ++queue[heights[p]];
            }
        for (int64_t k = highest, start = 0; k >= 0; --k) {
            const int64_t n = queue[k];
            queue[k] = start;
            start += n;
        }

        // Flood from the seeds, highest first; marks hold the part of each reached pixel. The
        // flood's queue is one small heap per height (the lowest index on top), each in a
        // place of order as long as the cell's pixels of that height: a pixel enters the heap
        // of its own height once, so each heap fits. queue[k] packs the start of height k's
        // place (the number of pixels higher than k) and, above it, the pixels in its heap.
        // Taking the top of the highest heap that is not empty is taking the highest pixel,
        // then the lowest index, as one heap of keys would.
        ++divided;
        constexpr int64_t kCountUnit = int64_t{1} << 32;
        const auto lowerIndexFirst = std::greater<int64_t>();
        int32_t level = 0;  // no heap above this height holds a pixel
        const auto push = [&](int32_t p) {
            const int32_t k = heights[p];
            int64_t* heap = order + (queue[k] & kIndexBits);
            const int64_t n = queue[k] >> 32;
            heap[n] = p;
            std::push_heap(heap, heap + n + 1, lowerIndexFirst);
            queue[k] += kCountUnit;
            level = std::max(level, k);
        };
        std::sort(seedPixels, seedPixels + seeds,
                  [&](int32_t a, int32_t b) { return keyOf(heights[a], a) > keyOf(heights[b], b); });
        for (int32_t i = 0; i < seeds; ++i) {
            marks[seedPixels[i]] = i == 0 ? c : nextNumber++;
            push(seedPixels[i]);
        }
        for (;;) {
            while (level > 0 && (queue[level] >> 32) == 0) --level;
            if (level == 0) break;  // every pixel of a cell is 1 or more from its edge
            int64_t* heap = order + (queue[level] & kIndexBits);
            const int64_t n = queue[level] >> 32;
            std::pop_heap(heap, heap + n, lowerIndexFirst);
            queue[level] -= kCountUnit;
            const int32_t p = static_cast<int32_t>(heap[n - 1]);
            forNeighbours(labels, w, h, c, p, atEdge, [&](int32_t q) {
                if (marks[q] >= 0) return;
                marks[q] = marks[p];
                push(q);
            });
        }
        for (int32_t ly = 1; ly < box.bh - 1; ++ly)
            for (int32_t lx = 1; lx < box.bw - 1; ++lx) {
                const int32_t p = (box.y0 + ly) * w + box.x0 + lx;
                if (labels[p] == c) labels[p] = marks[p];
            }
    }
    return divided;
}

namespace {

// The Gaussian of -split-gray: weights[i] = round(64 exp(-i^2 / 4.5)) for i = 0..4 (sigma 1.5;
// the weight at 5 rounds to 0). Their sum over -4..4 is 240.
constexpr int32_t kGrayWeights[] = {64, 51, 26, 9, 2};
constexpr int32_t kGrayRadius = 4;  // the row pass below spells out the four pairs
constexpr int64_t kGrayWeightSum = 240;

}  // namespace

void grayHeights(const uint8_t* gray, int32_t w, int32_t h, int32_t* columnPass, int32_t* heights) {
    // Integer sums throughout (at most 255 x 240^2 < 2^24), so the order of the terms does not
    // matter; pixels beyond an edge are taken as the edge pixel.
    sumColumns(gray, w, h, kGrayWeights, kGrayRadius, columnPass);
    const int32_t brightest = static_cast<int32_t>(255 * kGrayWeightSum * kGrayWeightSum);
    const int32_t innerStart = std::min(kGrayRadius, w), innerEnd = std::max(innerStart, w - kGrayRadius);
    for (int32_t y = 0; y < h; ++y) {
        const int32_t* pass = columnPass + static_cast<int64_t>(y) * w;
        int32_t* out = heights + static_cast<int64_t>(y) * w;
        const auto clamped = [&](int32_t x) {
            int32_t sum = kGrayWeights[0] * pass[x];
            for (int32_t i = 1; i <= kGrayRadius; ++i)
                sum += kGrayWeights[i] * (pass[std::max(x - i, 0)] + pass[std::min(x + i, w - 1)]);
            return brightest - sum;
        };
        for (int32_t x = 0; x < innerStart; ++x) out[x] = clamped(x);
        for (int32_t x = innerStart; x < innerEnd; ++x)
            out[x] = brightest - (kGrayWeights[0] * pass[x] + kGrayWeights[1] * (pass[x - 1] + pass[x + 1]) +
                                  kGrayWeights[2] * (pass[x - 2] + pass[x + 2]) +
                                  kGrayWeights[3] * (pass[x - 3] + pass[x + 3]) +
                                  kGrayWeights[4] * (pass[x - 4] + pass[x + 4]));
        for (int32_t x = innerEnd; x < w; ++x) out[x] = clamped(x);
    }
}

int32_t splitCellsByGray(int32_t* labels, int32_t w, int32_t h, const int32_t* cellTable, int32_t count,
                         const int32_t* heights, double minDynamic, const SplitPlanes& planes) {
    int32_t* marks = planes.marks;
    int64_t* order = planes.order;  // the searches' list
    int64_t* queue = planes.queue;  // the starts, then the seeds, then the flood's heap
    // A dynamic of minDynamic gray levels in heights' units, the least whole number at or above.
    const auto least = static_cast<int64_t>(std::ceil(minDynamic * kGrayWeightSum * kGrayWeightSum));
    int32_t nextNumber = count;
    int32_t divided = 0;
    for (int32_t c = 0; c < count; ++c) {
        const int32_t* rec = cellRecord(cellTable, c);
        const int32_t x0 = rec[CellWord::minX], y0 = rec[CellWord::minY];
        const int32_t x1 = rec[CellWord::maxX], y1 = rec[CellWord::maxY];
        const bool atEdge = x0 == 0 || y0 == 0 || x1 == w - 1 || y1 == h - 1;
        // The cell's heights + 1 in its box widened by one pixel (0 off the cell), and the
        // pixels none of whose neighbours comes before them: the only ones that can be seeds.
        // Each but the highest is one exactly when no path of pixels within the dynamic below
        // it leads to a pixel that comes before it (see isSeed), so the seeds come from those
        // searches alone, without sorting the cell.
        const int32_t bw = x1 - x0 + 3, bh = y1 - y0 + 3;
        int32_t* box = planes.distance;
        std::fill_n(box, static_cast<int64_t>(bw) * bh, 0);
        for (int32_t ly = 1; ly < bh - 1; ++ly) {
            const int64_t row = static_cast<int64_t>(y0 - 1 + ly) * w + (x0 - 1);
            int32_t* local = box + static_cast<int64_t>(ly) * bw;
            for (int32_t lx = 1; lx < bw - 1; ++lx)
                if (labels[row + lx] == c) local[lx] = heights[row + lx] + 1;
        }
        int32_t starts = 0;
        int32_t top = -1, topHeight = 0;
        for (int32_t ly = 1; ly < bh - 1; ++ly) {
            const int32_t* row = box + static_cast<int64_t>(ly) * bw;
            for (int32_t lx = 1; lx < bw - 1; ++lx) {
                const int32_t v = row[lx];
                if (v == 0 || row[lx - bw] >= v || row[lx - 1] >= v || row[lx + 1] > v || row[lx + bw] > v) continue;
                queue[starts++] = ly * bw + lx;
                if (v > topHeight) {
                    topHeight = v;
                    top = ly * bw + lx;
                }
            }
        }
        // The seeds as frame pixels, over the starts already read (the searches list in order).
        const auto framePixel = [&](int64_t local) {
            return static_cast<int32_t>((y0 - 1 + local / bw) * w + (x0 - 1 + local % bw));
        };
        int32_t seeds = 0;
        for (int32_t i = 0; i < starts; ++i) {
            const auto start = static_cast<int32_t>(queue[i]);
            if (start == top) continue;
            const int64_t low = std::max<int64_t>(1, box[start] - least + 1);
            if (!reachesAPixelBefore(box, bw, start, static_cast<int32_t>(low), order)) queue[seeds++] = framePixel(start);
        }
        if (top < 0 || seeds == 0) continue;
        queue[seeds++] = framePixel(top);

        // Flood from the seeds, darkest first; marks hold the part of each reached pixel.
        ++divided;
        for (int32_t ly = 1; ly < bh - 1; ++ly) {
            const int64_t row = static_cast<int64_t>(y0 - 1 + ly) * w + (x0 - 1);
            for (int32_t lx = 1; lx < bw - 1; ++lx)
                if (labels[row + lx] == c) marks[row + lx] = -1;
        }
        for (int32_t i = 0; i < seeds; ++i) {
            const auto p = static_cast<int32_t>(queue[i]);
            queue[i] = keyOf(heights[p], p);
        }
        std::sort(queue, queue + seeds, std::greater<int64_t>());
        for (int32_t i = 0; i < seeds; ++i) marks[pixelOf(queue[i])] = i == 0 ? c : nextNumber++;
        int32_t heap = seeds;  // sorted descending, so already a max-heap
        while (heap > 0) {
            std::pop_heap(queue, queue + heap);
            const int32_t p = pixelOf(queue[--heap]);
            forNeighbours(labels, w, h, c, p, atEdge, [&](int32_t q) {
                if (marks[q] >= 0) return;
                marks[q] = marks[p];
                queue[heap++] = keyOf(heights[q], q);
                std::push_heap(queue, queue + heap);
            });
        }
        for (int32_t ly = 1; ly < bh - 1; ++ly) {
            const int64_t row = static_cast<int64_t>(y0 - 1 + ly) * w + (x0 - 1);
            for (int32_t lx = 1; lx < bw - 1; ++lx)
                if (labels[row + lx] == c) labels[row + lx] = marks[row + lx];
        }
    }
    return divided;
}

}  // namespace vanto
