#include "segment/halo_join.h"

#include <algorithm>
#include <cmath>

#include "model/plane_scan.h"
#include "segment/flood_fill.h"

namespace vanto {

namespace {

constexpr int32_t kFree = 0;     // no cell, not bright, or a part already seen
constexpr int32_t kBright = 1;   // bright pixel of no cell, not yet in a part

// marks[p] = kBright for the bright pixels of no cell, kFree elsewhere. The window sums slide:
// columns[x] holds the sum of column x over the rows of the window of row y, and the sum along
// the row slides over columns[]. gray - sum / pixels >= t is tested in whole numbers as
// gray * pixels - sum >= ceil(t * pixels), the same test; away from the left and right edges
// every window of a row has as many pixels.
void markBrightPixels(const int32_t* labels, int32_t w, int32_t h, const uint8_t* gray, double t, int32_t* marks,
                      int32_t* columns) {
    constexpr int32_t r = kHaloWindowRadius;
    const auto least = [t](int64_t pixels) { return static_cast<int64_t>(std::ceil(t * static_cast<double>(pixels))); };
    startColumnSums(columns, gray, w, h, r);
    for (int32_t y = 0; y < h; ++y) {
        const int64_t rows = std::min(h - 1, y + r) - std::max(0, y - r) + 1;
        const int64_t at = static_cast<int64_t>(y) * w;
        const uint8_t* g = gray + at;
        const int32_t* l = labels + at;
        int32_t* m = marks + at;
        // sum: the window of x, over columns max(0, x - r) .. min(w - 1, x + r)
        int64_t sum = 0;
        for (int32_t x = 0; x <= std::min(w - 1, r); ++x) sum += columns[x];
        const int64_t fullPixels = rows * (2 * r + 1), fullLeast = least(fullPixels);
        for (int32_t x = 0; x < w; ++x) {
            const bool full = x >= r && x + r < w;
            const int64_t pixels = full ? fullPixels : rows * (std::min(w - 1, x + r) - std::max(0, x - r) + 1);
            const int64_t need = full ? fullLeast : least(pixels);
            m[x] = (l[x] < 0) & (g[x] * pixels - sum >= need) ? kBright : kFree;
            if (x + r + 1 < w) sum += columns[x + r + 1];
            if (x - r >= 0) sum -= columns[x - r];
        }
        nextColumnSums(columns, gray, w, h, y, r);
    }
}

}  // namespace

int32_t joinHalos(int32_t* labels, int32_t w, int32_t h, int32_t count, const uint8_t* gray, double t,
                  int32_t loneArea, const OffsetSteps& steps, const HaloPlanes& planes) {
    if (w <= 0 || h <= 0) return 0;
    int32_t* marks = planes.marks;
    int32_t* queue = planes.queue;
    int32_t* touches = planes.tally;         // touches[c]: pairs of the part touching cell c
    int32_t* touched = planes.tally + count;  // the cells the part touches, first touch first
    markBrightPixels(labels, w, h, gray, t, marks, planes.columns);
    std::fill_n(touches, count, 0);
    const int64_t n = static_cast<int64_t>(w) * h;
    int32_t added = 0;
    for (int64_t start = 0; start < n; ++start) {
        if (marks[start] != kBright) continue;
        // The part: a breadth-first fill from start; queue[0 .. size) ends holding all its
        // pixels. Every pixel of no cell beside the part is a part pixel or not bright, so the
        // cell pixels it meets are those of the first count cells.
        int32_t touchedCount = 0;
        marks[start] = kFree;
        const int32_t size = floodFill(steps, w, h, queue, static_cast<int32_t>(start), kFourNeighbours,
                                       [&](int32_t q) {
                                           if (q < 0) return false;
                                           if (marks[q] == kBright) {
                                               marks[q] = kFree;
                                               return true;
                                           }
                                           if (const int32_t c = labels[q]; c >= 0 && touches[c]++ == 0)
                                               touched[touchedCount++] = c;
                                           return false;
                                       });
        int32_t target = -1;
        for (int32_t i = 0; i < touchedCount; ++i) {
            const int32_t c = touched[i];
            if (target < 0 || touches[c] > touches[target] || (touches[c] == touches[target] && c < target))
                target = c;
        }
        for (int32_t i = 0; i < touchedCount; ++i) touches[touched[i]] = 0;
        if (target < 0 && loneArea > 0 && size >= loneArea) target = count + added++;
        if (target < 0) continue;
        for (int32_t i = 0; i < size; ++i) labels[queue[i]] = target;
    }
    return added;
}

}  // namespace vanto
