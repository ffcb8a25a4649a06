#pragma once
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

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

// The pixel tests of a RunFill, from three functions: open(q) tells a pixel that may be taken
// and is not yet marked; mark(q) marks it, after which open(q) is false and marked(q) true.
// The scans over a row (pixel indices start + x, columns below width) come from those tests.
template <typename Open, typename Mark, typename Marked>
struct PixelTests {
    Open open;
    Mark mark;
    Marked marked;

    // The first open column from x to last, or last + 1.
    int32_t nextOpen(int32_t start, int32_t x, int32_t last) const {
        while (x <= last && !open(start + x)) ++x;
        return x;
    }
    // Marks the open pixels from x on; returns the column after them.
    int32_t markOpen(int32_t start, int32_t x, int32_t width) const {
        while (x < width && open(start + x)) mark(start + x++);
        return x;
    }
    // The last marked column of the marked pixels from x on.
    int32_t lastMarked(int32_t start, int32_t x, int32_t width) const {
        while (x + 1 < width && marked(start + x + 1)) ++x;
        return x;
    }
};

// The pixel tests of a byte plane in which open pixels hold the value open and marked ones
// the value mark; its rows are scanned eight bytes at a time.
struct BytePlaneTests {
    uint8_t* plane;
    uint8_t openValue;
    uint8_t markValue;

    bool open(int32_t q) const { return plane[q] == openValue; }
    void mark(int32_t q) const { plane[q] = markValue; }
    bool marked(int32_t q) const { return plane[q] == markValue; }

    int32_t nextOpen(int32_t start, int32_t x, int32_t last) const {
        if (x > last) return x;
        const void* at = std::memchr(plane + start + x, openValue, static_cast<size_t>(last - x + 1));
        return at == nullptr ? last + 1 : static_cast<int32_t>(static_cast<const uint8_t*>(at) - (plane + start));
    }
    int32_t markOpen(int32_t start, int32_t x, int32_t width) const {
        uint8_t* row = plane + start;
        const int32_t end = runEnd(row, x, width, openValue);
        std::memset(row + x, markValue, static_cast<size_t>(end - x));
        return end;
    }
    int32_t lastMarked(int32_t start, int32_t x, int32_t width) const {
        return runEnd(plane + start, x, width, markValue) - 1;
    }

private:
    // The first column from x on (x included) whose byte is not value, or width.
    static int32_t runEnd(const uint8_t* row, int32_t x, int32_t width, uint8_t value) {
        static_assert(std::endian::native == std::endian::little, "bytes are read lowest address first");
        const uint64_t all = value * 0x0101010101010101ull;
        for (; x + 8 <= width; x += 8) {
            uint64_t word;
            std::memcpy(&word, row + x, 8);
            if (word != all) return x + (std::countr_zero(word ^ all) >> 3);
        }
        while (x < width && row[x] == value) ++x;
        return x;
    }
};

// Flood fill a row run at a time, for fills whose outcome is a set of pixels and not the
// order they are reached in (see PixelTests for the tests). A run (the open pixels of one row
// around a seed) is marked whole when it is found and queued by its first pixel; from the
// queue it takes the open runs that meet it in the rows above and below, 4-connected, or
// 8-connected with diagonal (one column past either end). Runs of one row are parted by
// pixels that are not open, so a queued run is again the marked pixels from its first. Each
// run is queued once, and a row of w pixels holds at most (w + 1) / 2 runs, so the queue
// needs at most one entry per pixel.
template <typename Tests>
class RunFill {
public:
    RunFill(int32_t width, int32_t height, int32_t* queue, bool diagonal, Tests tests)
        : w_(width), h_(height), rows_(width), queue_(queue), reach_(diagonal ? 1 : 0), tests_(tests) {}
    template <typename Open, typename Mark, typename Marked>
    RunFill(int32_t width, int32_t height, int32_t* queue, bool diagonal, Open open, Mark mark, Marked marked)
        : RunFill(width, height, queue, diagonal, Tests{open, mark, marked}) {}

    // Marks and queues the run through (x, y) when that pixel is open. Returns the column after
    // the run, or x + 1.
    int32_t seed(int32_t x, int32_t y) {
        const int32_t start = y * w_;
        if (!tests_.open(start + x)) return x + 1;
        int32_t left = x;
        while (left > 0 && tests_.open(start + left - 1)) --left;
        const int32_t right = tests_.markOpen(start, left, w_);
        queue_[tail_++] = start + left;
        count_ += right - left;
        minX_ = std::min(minX_, left);
        maxX_ = std::max(maxX_, right - 1);
        minY_ = std::min(minY_, y);
        maxY_ = std::max(maxY_, y);
        return right;
    }

    // seed() for the pixel of index p.
    int32_t seedPixel(int32_t p) {
        const int32_t y = rows_.row(p);
        return seed(rows_.column(p, y), y);
    }

    // Takes every run reachable from the queued ones. Returns the pixels marked since the fill began.
    int64_t spread() {
        for (; head_ < tail_; ++head_) {
            const int32_t first = queue_[head_];
            const int32_t y = rows_.row(first);
            const int32_t left = rows_.column(first, y);
            const int32_t right = tests_.lastMarked(y * w_, left, w_);
            const int32_t from = left > reach_ ? left - reach_ : 0;
            const int32_t last = right + reach_ < w_ ? right + reach_ : w_ - 1;
            if (y > 0) seedRow(y - 1, from, last);
            if (y + 1 < h_) seedRow(y + 1, from, last);
        }
        return count_;
    }

    // Seeds every pixel on the frame border, then spreads. Returns the pixels marked.
    int64_t spreadFromBorder() {
        seedRow(0, 0, w_ - 1);
        seedRow(h_ - 1, 0, w_ - 1);
        for (int32_t y = 1; y < h_ - 1; ++y) {
            seed(0, y);
            seed(w_ - 1, y);
        }
        return spread();
    }

    // Seeds every run of row y that meets columns from .. last.
    void seedRow(int32_t y, int32_t from, int32_t last) {
        const int32_t start = y * w_;
        for (int32_t x = tests_.nextOpen(start, from, last); x <= last; x = tests_.nextOpen(start, x, last))
            x = seed(x, y);
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
    Tests tests_;
    int32_t head_ = 0;
    int32_t tail_ = 0;
    int64_t count_ = 0;
    int32_t minX_ = INT32_MAX;
    int32_t maxX_ = -1;
    int32_t minY_ = INT32_MAX;
    int32_t maxY_ = -1;
};

template <typename Open, typename Mark, typename Marked>
RunFill(int32_t, int32_t, int32_t*, bool, Open, Mark, Marked) -> RunFill<PixelTests<Open, Mark, Marked>>;

}  // namespace vanto
