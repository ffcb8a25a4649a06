"""Segmentation: neighbourhood tables, index sort, and the per-frame passes
that turn the gray frame into labelled cells and the segmentation cell table."""

import math

from state import (CELL_WORDS, CELL_LIMIT, SMALL_FLAG, SIZE, RELABEL_TO,
                   CENTER_X, CENTER_Y, MIN_X, MIN_Y, MAX_X, MAX_Y, LINK_MARK)


# ---------------------------------------------------------------------------
# Index sort and neighbourhood tables
# ---------------------------------------------------------------------------

def sort_indices(index, key, last):
    """Iterative quicksort of index[0..last] so that key[index[i]] ascends.
    Median-of-three pivot value, Hoare-style partition; not stable (the
    resulting order of equal keys is part of the behaviour)."""
    stack = [(0, last)]
    while stack:
        lo, hi = stack.pop()
        if lo >= hi:
            continue
        mid = lo + (hi - lo) // 2
        a, b, c = key[index[lo]], key[index[mid]], key[index[hi]]
        # median of the three values
        if a < b:
            if b < c:
                piv = b
            elif a < c:
                piv = c
            else:
                piv = a
        else:
            if a < c:
                piv = a
            elif b < c:
                piv = c
            else:
                piv = b
        i, j = lo, hi
        while True:
            while key[index[i]] < piv:
                i += 1
            while piv < key[index[j]]:
                j -= 1
            if i >= j:
                break
            index[i], index[j] = index[j], index[i]
            i += 1
            j -= 1
        # push the right range first so the left one is taken first
        stack.append((j + 1, hi))
        stack.append((lo, i - 1))


def _round_away(v):
    """Round half away from zero (C round())."""
    a = abs(v)
    t = math.floor(a)
    if a - t >= 0.5:
        t += 1
    t = int(t)
    return t if v >= 0 else -t


class NeighbourhoodTables:
    def __init__(self):
        self.offsetDx = []
        self.offsetDy = []
        self.discCount = []
        self.rayEnd = []
        self.rayX = []
        self.rayY = []
        self._rayCache = {}


def build_tables():
    t = NeighbourhoodTables()
    key = [0] * 441
    index = list(range(441))
    for i in range(441):
        dy = i // 21 - 10
        dx = i % 21 - 10
        key[i] = dx * dx + dy * dy
    sort_indices(index, key, 440)

    disc = [0] * 120
    offDx = [0] * 441
    offDy = [0] * 441
    rayEnd = [0] * 441
    rayX, rayY = [], []
    for k in range(441):
        o = index[k]
        dx = o % 21 - 10
        dy = o // 21 - 10
        lx, ly = 11, 11
        w = 1.0
        while True:
            px = _round_away(dx * w)
            py = _round_away(dy * w)
            if px != lx or py != ly:
                rayX.append(px)
                rayY.append(py)
                lx, ly = px, py
            w = w - 0.01
            if not (w >= 0):
                break
        offDx[k] = dx
        offDy[k] = dy
        rayEnd[k] = len(rayX)
        for j in range(120):
            if disc[j] == 0 and key[o] > j:
                disc[j] = k
    t.offsetDx, t.offsetDy = offDx, offDy
    t.discCount = disc
    t.rayEnd = rayEnd
    t.rayX, t.rayY = rayX, rayY
    return t


def _ray_geometry(tables, W, kmax):
    """Per offset k = 1..kmax, as pixel-index deltas for a frame of width W:
    (intermediate points, diagonal-step corner pairs, points after the far
    end up to and including the centre)."""
    ck = (W, kmax)
    cache = tables.__dict__.setdefault('_rayCache', {})
    if ck in cache:
        return cache[ck]
    geo = [None]
    rx, ry, re = tables.rayX, tables.rayY, tables.rayEnd
    for k in range(1, kmax + 1):
        s, e = re[k - 1], re[k]
        inter = []
        corners = []
        after = []
        for i in range(s, e - 1):
            x0, y0 = rx[i], ry[i]
            x1, y1 = rx[i + 1], ry[i + 1]
            if x0 != x1 and y0 != y1:
                corners.append((y0 * W + x1, y1 * W + x0))
            if i + 1 < e - 1:
                inter.append(y1 * W + x1)
            after.append(y1 * W + x1)
        geo.append((inter, corners, after))
    cache[ck] = geo
    return geo


# ---------------------------------------------------------------------------
# Depth map
# ---------------------------------------------------------------------------

def _sweep(order, gray, W, H, fl, n4):
    """One intensity-ordered union-find sweep over the pixels in `order`.
    Leaves fl = region id per pixel; returns (parent, closing pixel) lists."""
    N = W * H
    parent = [0] * N
    closed = [0] * N
    count = 0

    def find(l):
        while parent[l] != l:
            parent[l] = parent[parent[l]]      # halving; roots are unchanged
            l = parent[l]
        return l

    for p in order:
        x = p % W
        y = p // W
        touched = False
        best = -1
        slots = []
        for dx, dy in n4:
            nx, ny = x + dx, y + dy
            if nx < 0 or nx >= W or ny < 0 or ny >= H:
                touched = True
                continue
            l = fl[ny * W + nx]
            if l != -1:
                r = find(l)
                slots.append(r)
                if closed[r] == -1:
                    if best == -1 or r < best:
                        best = r
                else:
                    touched = True
        if best == -1:
            rid = count
            count += 1
            fl[p] = rid
            parent[rid] = rid
            closed[rid] = p if touched else -1
        else:
            fl[p] = best
            for r in slots:
                if touched:
                    if closed[r] == -1:
                        closed[r] = p
                else:
                    parent[r] = best
    return parent, closed, find


def _depth_map(gray, W, H, n4):
    N = W * H
    order = list(range(N))
    sort_indices(order, gray, N - 1)
    fl = [-1] * N
    depth = [0] * N

    parent, closed, find = _sweep(order, gray, W, H, fl, n4)
    for r in range(N):
        l = fl[r]
        fl[r] = -1
        root = find(l)
        depth[r] = gray[closed[root]] - gray[r]

    parent, closed, find = _sweep(reversed(order), gray, W, H, fl, n4)
    for r in range(N):
        root = find(fl[r])
        h = gray[r] - gray[closed[root]]
        if h > depth[r]:
            depth[r] = -h
    return depth


# ---------------------------------------------------------------------------
# Helpers
# ---------------------------------------------------------------------------

def _neighbours(p, W, H, offs):
    """In-frame neighbours of p for the given (dx, dy) list, in that order."""
    x = p % W
    y = p // W
    out = []
    for dx, dy in offs:
        nx, ny = x + dx, y + dy
        if 0 <= nx < W and 0 <= ny < H:
            out.append(ny * W + nx)
    return out


def _in_frame_offsets(p, W, H, offs):
    """(k, q) for each offset k (1-based) whose target q lies in the frame."""
    x = p % W
    y = p // W
    out = []
    k = 0
    for dx, dy in offs:
        k += 1
        nx, ny = x + dx, y + dy
        if 0 <= nx < W and 0 <= ny < H:
            out.append((k, ny * W + nx))
    return out


def _clear_line(L, f, p, geo_k):
    """Line of sight from p to the far end of a ray over plane L, free value f."""
    inter, corners, after = geo_k
    for d in after:
        if L[p + d] != f:
            return False
    for c1, c2 in corners:
        if L[p + c1] != f and L[p + c2] != f:
            return False
    return True


# ---------------------------------------------------------------------------
# Frame segmentation
# ---------------------------------------------------------------------------

def segment_frame(st, threshold, smallCellArea):
    """Segments st.gray into cells: st.segLabels, st.cellTable, st.curCount.
    Returns True when the frame reaches the cell limit."""
    W, H = st.W, st.H
    gray = st.gray
    T = st.tables
    offs = list(zip(T.offsetDx, T.offsetDy))
    n4 = offs[1:T.discCount[1]]           # 4 neighbours
    n8 = offs[1:T.discCount[2]]           # 8 neighbours
    n20 = offs[1:T.discCount[5]]          # growth radius
    n88 = offs[1:T.discCount[26]]         # bridging / neck radius
    geo = _ray_geometry(T, W, len(n88))

    depth = _depth_map(gray, W, H, n4)
    seg, mask = _foreground(depth, threshold, W, H, n4, n8, n88, geo)
    fl, regionSize = _cut_and_label(mask, seg, depth, W, H, n4, n88, geo)
    seg = _complete_regions(fl, regionSize, W, H, n4, n8, n20, geo)
    table, count, overflow = _cell_table(seg, smallCellArea, W, H, n4)

    st.segLabels[:] = seg
    st.frameLabels[:] = fl
    st.cellTable = table
    st.curCount = count
    return overflow


def _foreground(depth, threshold, W, H, n4, n8, n88, geo):
    """Depth classes, specks, growth, gap bridging, mask and enclosed fill.
    Returns (class plane with bridges, foreground mask)."""
    N = W * H
    cls = [4 if d > threshold else (1 if d >= 0 else 0) for d in depth]

    # specks: 4-connected deep areas of fewer than 10 pixels
    vis = [-1] * N
    for p in range(N):
        if cls[p] != 4 or vis[p] != -1:
            continue
        vis[p] = 1
        queue = [p]
        h = 0
        while h < len(queue):
            c = queue[h]
            h += 1
            for q in _neighbours(c, W, H, n4):
                if cls[q] == 4 and vis[q] == -1:
                    vis[q] = 1
                    queue.append(q)
        if len(queue) < 10:
            for q in queue:
                cls[q] = 3

    # one-pixel growth of shallow ground; bright stored as 10
    seg = [0] * N
    for p in range(N):
        c = cls[p]
        if c == 1:
            for q in _neighbours(p, W, H, n4):
                if cls[q] > c:
                    c = cls[q]
        elif c == 0:
            c = 10
        seg[p] = c

    # gap bridging, in place on seg
    for p in range(N):
        if seg[p] != 4:
            continue
        ok = False
        for q in _neighbours(p, W, H, n4):
            if seg[q] < 3:
                ok = True
                break
        if not ok:
            continue
        for k, q in _in_frame_offsets(p, W, H, n88):
            sq = seg[q]
            if sq != 3 and sq != 4:
                continue
            inter, corners, _after = geo[k]
            give_up = False
            for c1, c2 in corners:
                if seg[p + c1] >= 4 and seg[p + c2] >= 4:
                    give_up = True
                    break
            if not give_up:
                for d in inter:
                    if seg[p + d] >= 4:
                        give_up = True
                        break
            if give_up:
                continue
            for c1, c2 in corners:
                if seg[p + c1] < 3:
                    seg[p + c1] = 2
                if seg[p + c2] < 3:
                    seg[p + c2] = 2
            for d in inter:
                if seg[p + d] < 3:
                    seg[p + d] = 2

    # foreground mask
    mask = [1 if (s == 2 or s == 3 or s == 4) else 0 for s in seg]
    work = [-1] * N

    # fill enclosed background (8-connected pockets not touching the edge)
    for p in range(N):
        if work[p] != -1 or mask[p] == 1:
            continue
        work[p] = 1
        queue = [p]
        h = 0
        edge = False
        while h < len(queue):
            c = queue[h]
            h += 1
            cx, cy = c % W, c // W
            if cx == 0 or cy == 0 or cx == W - 1 or cy == H - 1:
                edge = True
            for q in _neighbours(c, W, H, n8):
                if work[q] == -1 and mask[q] != 1:
                    work[q] = 1
                    queue.append(q)
        if not edge:
            for q in queue:
                mask[q] = 1
    return seg, mask


def _cut_and_label(mask, seg, depth, W, H, n4, n88, geo):
    """Outline, neck cuts, region labels, marks, hand-back, deep cut pieces.
    Edits mask in place; returns (first label plane, recorded region sizes)."""
    N = W * H
    # outline
    for p in range(N):
        if mask[p] == 1:
            for q in _neighbours(p, W, H, n4):
                if mask[q] == 0:
                    mask[q] = -1

    # neck cuts between outline pixels
    for p in range(N):
        if mask[p] != -1:
            continue
        for k, q in _in_frame_offsets(p, W, H, n88):
            if mask[q] != -1:
                continue
            inter, corners, _after = geo[k]
            give_up = False
            for d in inter:
                if mask[p + d] < 1:
                    give_up = True
                    break
            if not give_up:
                for c1, c2 in corners:
                    if mask[p + c1] < 1 and mask[p + c2] < 1:
                        give_up = True
                        break
            if give_up:
                continue
            for d in inter:
                if mask[p + d] == 1:
                    mask[p + d] = 2
            for c1, c2 in corners:
                if mask[p + c1] == 1:
                    mask[p + c1] = 2
                if mask[p + c2] == 1:
                    mask[p + c2] = 2

    # label 4-connected foreground regions
    fl = [-1] * N
    work = [-1] * N
    regionSize = []
    rc = 0
    for p in range(N):
        if work[p] != -1 or mask[p] != 1:
            continue
        work[p] = 1
        queue = [p]
        h = 0
        while h < len(queue):
            c = queue[h]
            h += 1
            for q in _neighbours(c, W, H, n4):
                if work[q] == -1 and mask[q] == 1:
                    work[q] = 1
                    queue.append(q)
        for q in queue:
            fl[q] = rc
        regionSize.append(len(queue))
        rc += 1

    # mark the rest
    for p in range(N):
        if fl[p] < 0:
            if mask[p] == 2:
                fl[p] = -3
            elif seg[p] == 1:
                fl[p] = -2
            else:
                fl[p] = -1

    # hand cut pixels back: one breadth-first growth from all regions
    queue = [p for p in range(N) if fl[p] >= 0]
    h = 0
    while h < len(queue):
        c = queue[h]
        h += 1
        lab = fl[c]
        for q in _neighbours(c, W, H, n4):
            if fl[q] == -3:
                fl[q] = lab
                queue.append(q)

    # deep cut pieces become regions of recorded size 0
    work = [-1] * N
    for p in range(N):
        if work[p] != -1 or fl[p] != -3 or not (depth[p] > 23):
            continue
        work[p] = 1
        queue = [p]
        h = 0
        while h < len(queue):
            c = queue[h]
            h += 1
            for q in _neighbours(c, W, H, n4):
                if work[q] == -1 and fl[q] == -3:
                    work[q] = 1
                    queue.append(q)
        for q in queue:
            fl[q] = rc
        regionSize.append(0)
        rc += 1
    return fl, regionSize


def _complete_regions(fl, regionSize, W, H, n4, n8, n20, geo):
    """Shallow growth, one-pixel growth, small-region merge, pocket fill.
    Returns the region-id plane (-2 for none); updates regionSize."""
    N = W * H
    seg = [0] * N
    # shallow growth along clear lines of sight
    for p in range(N):
        seg[p] = fl[p]
        if fl[p] != -2:
            continue
        for k, q in _in_frame_offsets(p, W, H, n20):
            if fl[q] >= 0 and _clear_line(fl, -2, p, geo[k]):
                seg[p] = fl[q]
                break

    # free values merged
    work = [s if s >= 0 else -2 for s in seg]

    # one-pixel growth
    for p in range(N):
        seg[p] = work[p]
        if work[p] != -2:
            continue
        for k, q in _in_frame_offsets(p, W, H, n8):
            if work[q] != -2 and _clear_line(work, -2, p, geo[k]):
                seg[p] = work[q]
                break

    # merge small regions into the neighbour with the longest contact
    work = [-1] * N
    for p in range(N):
        A = seg[p]
        if work[p] != -1 or A < 0 or not (regionSize[A] < 160):
            continue
        work[p] = A
        queue = [p]
        h = 0
        cand = []          # labels in order of first contact
        cnt = {}
        while h < len(queue):
            c = queue[h]
            h += 1
            for q in _neighbours(c, W, H, n4):
                B = seg[q]
                if B == A:
                    if work[q] != A:
                        work[q] = A
                        queue.append(q)
                elif B >= 0:
                    if B in cnt:
                        cnt[B] += 1
                    else:
                        cnt[B] = 1
                        cand.append(B)
        target = -1
        tcount = 0
        for B in cand:
            if cnt[B] >= 2 and cnt[B] > tcount:
                target = B
                tcount = cnt[B]
        if target >= 0:
            for q in queue:
                seg[q] = target
            regionSize[target] += regionSize[A]

    # fill enclosed unlabelled pockets owned by a single region
    work = [-1] * N
    NONE, CONFLICT = -1, -2
    for p in range(N):
        if work[p] != -1 or seg[p] >= 0:
            continue
        work[p] = p
        queue = [p]
        h = 0
        owner = NONE
        while h < len(queue):
            c = queue[h]
            h += 1
            cx, cy = c % W, c // W
            for dx, dy in n4:
                nx, ny = cx + dx, cy + dy
                if nx < 0 or nx >= W or ny < 0 or ny >= H:
                    owner = CONFLICT
                    continue
                q = ny * W + nx
                if work[q] == -1:
                    B = seg[q]
                    if B < 0:
                        work[q] = p
                        queue.append(q)
                    elif owner == NONE:
                        owner = B
                    elif owner != B:
                        owner = CONFLICT
                elif work[q] != p:
                    owner = CONFLICT
            if owner == CONFLICT:
                break
        if owner >= 0:
            for q in queue:
                seg[q] = owner
    return seg


def _cell_table(seg, smallCellArea, W, H, n4):
    """Numbers the 4-connected pieces of equal id in raster order, in place
    on seg; returns (records, count, overflow)."""
    N = W * H
    work = [-1] * N
    table = []
    count = 0
    overflow = False
    for p in range(N):
        if work[p] != -1 or seg[p] < 0:
            continue
        v = seg[p]
        work[p] = 1
        queue = [p]
        h = 0
        while h < len(queue):
            c = queue[h]
            h += 1
            for q in _neighbours(c, W, H, n4):
                if work[q] == -1 and seg[q] == v:
                    work[q] = 1
                    queue.append(q)
        minx = miny = 1 << 30
        maxx = maxy = -1
        for q in queue:
            seg[q] = count
            x, y = q % W, q // W
            if x < minx:
                minx = x
            if x > maxx:
                maxx = x
            if y < miny:
                miny = y
            if y > maxy:
                maxy = y
        rec = [0] * CELL_WORDS
        size = len(queue)
        rec[SMALL_FLAG] = 1 if size < smallCellArea else 0
        rec[SIZE] = size
        rec[RELABEL_TO] = count
        rec[CENTER_X] = (minx + maxx) // 2
        rec[CENTER_Y] = (miny + maxy) // 2
        rec[MIN_X], rec[MIN_Y], rec[MAX_X], rec[MAX_Y] = minx, miny, maxx, maxy
        rec[LINK_MARK] = -1
        table.append(rec)
        count += 1
        if count >= CELL_LIMIT:
            overflow = True
            break
    return table, count, overflow
