#include "segment/enclosed_areas.h"

#include <cstring>

#include "segment/flood_fill.h"

namespace vanto {

namespace {

constexpr uint8_t kOpenToEdge = 2;
constexpr uint8_t kTaken = 3;  // searched; seedOf holds the first pixel of its search

}  // namespace

void fillEnclosedAreas(int32_t* labels, uint8_t* state, int32_t* seedOf, int32_t* queue, const OffsetSteps& s,
                       int32_t width, int32_t height) {
    // An area open to the frame edge is never filled, whatever its first pixel: the search
    // either reaches the edge or stops earlier. Such areas are marked at once, a row run at a
    // time, so that only enclosed areas are searched pixel by pixel.
    RunFill edge(width, height, queue, false, BytePlaneTests{state, kAreaUnseen, kOpenToEdge});
    edge.spreadFromBorder();

    // Areas are parted from each other, so a search meets no pixel of another area.
    const int32_t n = width * height;
    for (int32_t p = 0; p < n; ++p) {
        const void* next = std::memchr(state + p, kAreaUnseen, static_cast<size_t>(n - p));
        if (next == nullptr) break;
        p = static_cast<int32_t>(static_cast<const uint8_t*>(next) - state);
        state[p] = kTaken;
        seedOf[p] = p;
        int32_t owner = -1;
        bool conflict = false;
        const int32_t tail = floodFill(
            s, width, height, queue, p, kFourNeighbours,
            [&](int32_t q) {
                if (q < 0) {
                    conflict = true;
                } else if (state[q] == kAreaLabelled) {
                    if (owner == -1) {
                        owner = labels[q];
                    } else if (owner != labels[q]) {
                        conflict = true;
                    }
                } else if (state[q] == kTaken) {
                    if (seedOf[q] != p) conflict = true;
                } else {
                    state[q] = kTaken;
                    seedOf[q] = p;
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
