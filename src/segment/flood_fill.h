#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>

#include "model/pixel_rows.h"
#include "segment/offset_steps.h"

namespace vanto {

// Breadth-first fill from seed, which the caller has marked. For every pixel taken from the
// queue, its neighbours k = 1 .. neighbours are offered in table order to visit(q), with q = -1
// for a neighbour outside the frame; visit returns true to append q (the caller marks it).
// After each taken pixel, done() may end the fill early. Returns the number of queued pixels,
// which stay in queue[0 .. n) in queue order.
template <typename Visit, typename Done>
int32_t floodFill(const OffsetSteps& s, int32_t w, int32_t h, int32_t* queue, int32_t seed, int neighbours, Visit visit,
                  Done done) {
    int32_t tail = 0;
    queue[tail++] = seed;
    for (int32_t head = 0; head < tail; ++head) {
        const int32_t c = queue[head];
        const int32_t y = s.rows.row(c);
        const int32_t x = s.rows.column(c, y);
        for (int k = 1; k <= neighbours; ++k) {
            const int32_t q = inFrame(x + s.dx[k], y + s.dy[k], w, h) ? c + s.delta[k] : -1;
            if (visit(q)) queue[tail++] = q;
        }
        if (done()) break;
    }
    return tail;
}

template <typename Visit>
int32_t floodFill(const OffsetSteps& s, int32_t w, int32_t h, int32_t* queue, int32_t seed, int neighbours,
                  Visit visit) {
    return floodFill(s, w, h, queue, seed, neighbours, visit, [] { return false; });
}

// Flood fill a row run at a time, for fills whose outcome is a set of pixels and not the
// order they are reached in. open(q) tells a pixel that may be taken and not yet marked;
// mark(q) marks it, after which open(q) is false and marked(q) true. A run (the open pixels of
// one row around a seed) is marked whole when it is found and queued by its first pixel; from
// the queue it takes the open runs that meet it in the rows above and below, 4-connected, or
// 8-connected with diagonal (one column past either end). Runs of one row are parted by
// pixels that are not open, so a queued run is again the marked pixels from its first. Each
// run is queued once, and a row of w pixels holds at most (w + 1) / 2 runs, so the queue
// needs at most one entry per pixel.
template <typename Open, typename Mark, typename Marked>
class RunFill {
public:
    RunFill(int32_t width, int32_t height, int32_t* queue, bool diagonal, Open open, Mark mark, Marked marked)
        : w_(width), h_(height), rows_(width), queue_(queue), reach_(diagonal ? 1 : 0), open_(open), mark_(mark),
          marked_(marked) {}

    // Marks and queues the run through (x, y) when that pixel is open. Returns the column after
    // the run, or x + 1.
    int32_t seed(int32_t x, int32_t y) {
        const int32_t start = y * w_;
        if (!open_(start + x)) return x + 1;
        int32_t left = x;
        while (left > 0 && open_(start + left - 1)) --left;
        int32_t right = left;
        while (right < w_ && open_(start + right)) mark_(start + right++);
        queue_[tail_++] = start + left;
        count_ += right - left;
        minX_ = std::min(minX_, left);
        maxX_ = std::max(maxX_, right - 1);
        minY_ = std::min(minY_, y);
        maxY_ = std::max(maxY_, y);
        return right;
    }

    // Takes every run reachable from the queued ones. Returns the pixels marked since the fill began.
    int64_t spread() {
        for (; head_ < tail_; ++head_) {
            const int32_t first = queue_[head_];
            const int32_t y = rows_.row(first);
            const int32_t left = rows_.column(first, y);
            int32_t right = left;
            while (right + 1 < w_ && marked_(first + (right + 1 - left))) ++right;
            const int32_t from = left > reach_ ? left - reach_ : 0;
            const int32_t last = right + reach_ < w_ ? right + reach_ : w_ - 1;
            if (y > 0) seedRow(y - 1, from, last);
            if (y + 1 < h_) seedRow(y + 1, from, last);
        }
        return count_;
    }

    // Seeds every run of row y that meets columns from .. last.
    void seedRow(int32_t y, int32_t from, int32_t last) {
        const int32_t start = y * w_;
        for (int32_t x = from; x <= last;) {
            while (x <= last && !open_(start + x)) ++x;
            if (x <= last) x = seed(x, y);
        }
    }

    // Runs queued so far: the queue's first runs() entries are their first pixels.
    int32_t runs() const { return tail_; }

    // The box of the marked pixels (empty, minX > maxX, before any).
    int32_t minX() const { return minX_; }
    int32_t maxX() const { return maxX_; }
    int32_t minY() const { return minY_; }
    int32_t maxY() const { return maxY_; }

private:
    int32_t w_;
    int32_t h_;
    PixelRows rows_;
    int32_t* queue_;
    int32_t reach_;
    Open open_;
    Mark mark_;
    Marked marked_;
    int32_t head_ = 0;
    int32_t tail_ = 0;
    int64_t count_ = 0;
    int32_t minX_ = INT32_MAX;
    int32_t maxX_ = -1;
    int32_t minY_ = INT32_MAX;
    int32_t maxY_ = -1;
};

}  // namespace vanto
