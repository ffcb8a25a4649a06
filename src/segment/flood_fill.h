#pragma once
#include <cstdint>

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

}  // namespace vanto
