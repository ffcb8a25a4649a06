#include "segment/enclosed_areas.h"

#include "segment/flood_fill.h"

namespace vanto {

void fillEnclosedAreas(int32_t* labels, int32_t* mark, int32_t* queue, const OffsetSteps& s, int32_t width,
                       int32_t height) {
    // An area open to the frame edge is never filled, whatever its first pixel: the search
    // either reaches the edge or stops earlier. Such areas are marked at once, a row run at a
    // time, so that only enclosed areas are searched pixel by pixel.
    constexpr int32_t kOpenToEdge = -2;
    RunFill edge(
        width, height, queue, false, [=](int32_t q) { return mark[q] == kMarkUnseen; },
        [=](int32_t q) { mark[q] = kOpenToEdge; }, [=](int32_t q) { return mark[q] == kOpenToEdge; });
    edge.seedRow(0, 0, width - 1);
    edge.seedRow(height - 1, 0, width - 1);
    for (int32_t y = 1; y < height - 1; ++y) {
        edge.seed(0, y);
        edge.seed(width - 1, y);
    }
    edge.spread();

    // Areas are parted from each other, so a search meets no pixel of another area; an
    // enclosed area's pixels are marked with its first pixel's index.
    const int32_t n = width * height;
    for (int32_t p = 0; p < n; ++p) {
        if (mark[p] != kMarkUnseen) continue;
        mark[p] = p;
        int32_t owner = -1;
        bool conflict = false;
        const int32_t tail = floodFill(
            s, width, height, queue, p, kFourNeighbours,
            [&](int32_t q) {
                if (q < 0) {
                    conflict = true;
                } else if (mark[q] == kMarkLabelled) {
                    if (owner == -1) {
                        owner = labels[q];
                    } else if (owner != labels[q]) {
                        conflict = true;
                    }
                } else if (mark[q] != kMarkUnseen) {
                    if (mark[q] != p) conflict = true;
                } else {
                    mark[q] = p;
                    return true;
                }
                return false;
            },
            [&] { return conflict; });
        if (conflict || owner < 0) continue;
        for (int32_t i = 0; i < tail; ++i) labels[queue[i]] = owner;
    }
}

}  // namespace vanto
