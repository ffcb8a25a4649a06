#include "literal_depth_map.h"

#include <algorithm>
#include <numeric>

#include "segment/index_sort.h"
#include "segment/offset_steps.h"

namespace vanto {

namespace {

inline int32_t findRoot(int32_t* parent, int32_t l) {
    while (parent[l] != l) {
        const int32_t up = parent[parent[l]];
        parent[l] = up;
        l = up;
    }
    return l;
}

}  // namespace

// labels: the region a pixel joined (-1 unvisited); parent per region id; closing: -1 while a
// region is open, else its closing pixel. A pixel whose open neighbouring regions meet neither
// the frame border nor a closed region merges them into the smallest id; otherwise it closes
// them all.
void LiteralDepthMap::sweep(const NeighbourhoodTables& t, int32_t w, int32_t h, bool ascending) {
    const int32_t n = w * h;
    int32_t* labels = labels_.data();
    int32_t* parent = parent_.data();
    int32_t* closing = closing_.data();
    int32_t delta[kFourNeighbours + 1];
    for (int k = 1; k <= kFourNeighbours; ++k) delta[k] = t.offsetDy[k] * w + t.offsetDx[k];

    int32_t regionCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t p = order_[ascending ? i : n - 1 - i];
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

void LiteralDepthMap::compute(const NeighbourhoodTables& tables, const uint8_t* gray, int32_t w, int32_t h,
                              int32_t* depth) {
    const int32_t n = w * h;
    if (n <= 0) return;
    order_.resize(n);
    labels_.assign(n, -1);
    parent_.resize(n);
    closing_.resize(n);
    const int64_t ranges = n / 2 + 2;
    stack_.resize(2 * ranges);
    std::iota(order_.begin(), order_.end(), 0);
    sortIndicesByByteKey(order_.data(), gray, n - 1, stack_.data(), ranges);

    int32_t* labels = labels_.data();
    int32_t* parent = parent_.data();
    sweep(tables, w, h, true);
    for (int32_t r = 0; r < n; ++r) {
        const int32_t l = labels[r];
        labels[r] = -1;
        depth[r] = gray[closing_[findRoot(parent, l)]] - gray[r];
    }
    sweep(tables, w, h, false);
    for (int32_t r = 0; r < n; ++r) {
        const int32_t height = gray[r] - gray[closing_[findRoot(parent, labels[r])]];
        if (height > depth[r]) depth[r] = -height;
    }
}

}  // namespace vanto
