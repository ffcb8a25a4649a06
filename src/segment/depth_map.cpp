#include "segment/depth_map.h"

#include <algorithm>
#include <numeric>

#include "segment/index_sort.h"
#include "segment/offset_steps.h"

namespace vanto {

namespace {

// Root of region l. Path halving keeps every link pointing to a smaller id and leaves every
// root where it was, so it changes no result.
inline int32_t findRoot(int32_t* parent, int32_t l) {
    while (parent[l] != l) {
        const int32_t up = parent[parent[l]];
        parent[l] = up;
        l = up;
    }
    return l;
}

// One sweep over pixelOrder, ascending or descending. frameLabels: the region a pixel joined
// (-1 unvisited); workPlane: parent per region id; maskPlane: -1 while a region is open, else
// its closing pixel. A pixel whose open neighbouring regions meet neither the frame border nor
// a closed region merges them into the smallest id; otherwise it closes them all.
void sweep(Workspace& ws, bool ascending) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    const int32_t* order = ws.pixelOrder;
    int32_t* labels = ws.frameLabels;
    int32_t* parent = ws.workPlane;
    int32_t* closing = ws.maskPlane;
    const NeighbourhoodTables& t = ws.tables;
    int32_t delta[kFourNeighbours + 1];
    for (int k = 1; k <= kFourNeighbours; ++k) delta[k] = t.offsetDy[k] * w + t.offsetDx[k];

    int32_t regionCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t p = order[ascending ? i : n - 1 - i];
        const int32_t y = p / w;
        const int32_t x = p - y * w;
        bool touched = false;
        int32_t best = -1;
        int32_t slot[kFourNeighbours + 1];
        for (int k = 1; k <= kFourNeighbours; ++k) {
            slot[k] = -1;
            if (!inFrame(x + t.offsetDx[k], y + t.offsetDy[k], w, h)) {
                touched = true;
                continue;
            }
            const int32_t l = labels[p + delta[k]];
            if (l == -1) continue;
            const int32_t r = findRoot(parent, l);
            slot[k] = r;
            if (closing[r] == -1) {
                if (best == -1 || r < best) best = r;
            } else {
                touched = true;
            }
        }
        if (best == -1) {
            const int32_t id = regionCount++;
            labels[p] = id;
            parent[id] = id;
            closing[id] = touched ? p : -1;
            continue;
        }
        labels[p] = best;
        for (int k = 1; k <= kFourNeighbours; ++k) {
            const int32_t r = slot[k];
            if (r == -1) continue;
            if (touched) {
                if (closing[r] == -1) closing[r] = p;
            } else {
                parent[r] = best;
            }
        }
    }
}

}  // namespace

void computeDepthMap(Workspace& ws, const uint8_t* gray) {
    const int32_t n = static_cast<int32_t>(ws.pixelCount);
    if (n <= 0) return;
    int32_t* labels = ws.frameLabels;
    int32_t* parent = ws.workPlane;
    const int32_t* closing = ws.maskPlane;
    int32_t* depth = ws.depthPlane;

    std::fill_n(labels, n, -1);
    std::iota(ws.pixelOrder, ws.pixelOrder + n, 0);
    sortIndicesByByteKey(ws.pixelOrder, gray, n - 1, ws.sortStack, ws.sortStackRanges);

    // Dark to bright: depth below the spill level of the basin.
    sweep(ws, true);
    for (int32_t r = 0; r < n; ++r) {
        const int32_t l = labels[r];
        labels[r] = -1;
        depth[r] = gray[closing[findRoot(parent, l)]] - gray[r];
    }

    // Bright to dark: a peak height larger than the depth replaces it, negated; a tie keeps
    // the depth.
    sweep(ws, false);
    for (int32_t r = 0; r < n; ++r) {
        const int32_t height = gray[r] - gray[closing[findRoot(parent, labels[r])]];
        if (height > depth[r]) depth[r] = -height;
    }
}

}  // namespace vanto
