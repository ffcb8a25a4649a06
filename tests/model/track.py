"""Tracking: frame-to-frame links, their resolution, fragment merging, the final
cell labelling with shape measures, identity carry-over and the calculation image."""

import math

import segment
from state import (SMALL_FLAG, SIZE, RELABEL_TO, CIRCUMFERENCE, MIN_WIDTH_ANGLE,
                   MAX_WIDTH_ANGLE, CENTER_X, CENTER_Y, MIN_WIDTH, MAX_WIDTH, MIN_X, MIN_Y,
                   MAX_X, MAX_Y, CELL_ID, LIFE, TOTAL_WAY, RESERVED, LINK_MARK, ID_DRAWN,
                   CELL_WORDS, PREV_X, PREV_Y, CUR_X, CUR_Y, LINK_STATE, PREV_INDEX,
                   CUR_INDEX, CARRIED_ID, CUR_SMALL, OVERLAP, LINK_LIMIT, CELL_LIMIT, int32)

PI = 3.1415927


def _table(st, name):
    t = st.tables
    return t[name] if isinstance(t, dict) else getattr(t, name)


def _four_neighbours(st):
    """Offsets 1..4 of the sorted table: up, down, left, right."""
    dxs, dys = _table(st, 'offsetDx'), _table(st, 'offsetDy')
    return [(dxs[k], dys[k]) for k in range(1, 5)]


# ---------------------------------------------------------------------------
# Nearest-cell search between the two frames

def _nearest_other(W, H, dxs, dys, own, other):
    out = [-1] * (W * H)
    for y in range(H):
        for x in range(W):
            p = y * W + x
            if own[p] < 0:
                continue
            v = -1
            for k in range(441):
                qx = x + dxs[k]
                qy = y + dys[k]
                if qx < 0 or qx >= W or qy < 0 or qy >= H:
                    continue
                lab = other[qy * W + qx]
                if lab >= 0:
                    v = lab
                    break
            out[p] = v
    return out


def addtwo(st):
    """A: for previous-cell pixels, the nearest current label; B: the reverse."""
    dxs, dys = _table(st, 'offsetDx'), _table(st, 'offsetDy')
    A = _nearest_other(st.W, st.H, dxs, dys, st.prevFrameLabels, st.segLabels)
    B = _nearest_other(st.W, st.H, dxs, dys, st.segLabels, st.prevFrameLabels)
    return A, B


# ---------------------------------------------------------------------------
# Adjacency

def _adjacency(W, H, labels, count):
    """adj[a] = set of b such that a pixel of a has its left/up/right/down neighbour in b."""
    adj = [set() for _ in range(count)]
    for y in range(H):
        for x in range(W):
            p = y * W + x
            a = labels[p]
            if a < 0:
                continue
            if x > 0:
                b = labels[p - 1]
                if b >= 0:
                    adj[a].add(b)
            if y > 0:
                b = labels[p - W]
                if b >= 0:
                    adj[a].add(b)
            if x < W - 1:
                b = labels[p + 1]
                if b >= 0:
                    adj[a].add(b)
            if y < H - 1:
                b = labels[p + W]
                if b >= 0:
                    adj[a].add(b)
    return adj


# ---------------------------------------------------------------------------
# Link candidates

def _list_links(st, j):
    """Counts the supporting pixels of each (prev, cur) pair and writes the entries.
    Returns the number of candidate links."""
    curCount, prevCount = st.curCount, st.prevCount
    A, B = addtwo(st)
    counts = {}
    prevL, segL = st.prevFrameLabels, st.segLabels
    for p in range(st.W * st.H):
        if A[p] >= 0:
            m = prevL[p] * curCount + A[p]
            counts[m] = counts.get(m, 0) + 1
        if B[p] >= 0:
            m = B[p] * curCount + segL[p]
            counts[m] = counts.get(m, 0) + 1
    links = sorted(m for m, c in counts.items() if c != 0)
    st.linkCount = len(links)
    if st.linkCount >= LINK_LIMIT:
        return st.linkCount
    slot = st.linkHistory[j % 50]
    for m in links:
        prev, cur = m // curCount, m % curCount
        pr, cr = st.prevCellTable[prev], st.cellTable[cur]
        slot.append([pr[CENTER_X], pr[CENTER_Y], cr[CENTER_X], cr[CENTER_Y], -1,
                     prev, cur, -1, counts[m], -1])
    return st.linkCount


# ---------------------------------------------------------------------------
# Link resolution and the per-component merge

def _resolve_component(st, slot, queue, prevList, curList, prevAdj, curAdj):
    prevTab, curTab = st.prevCellTable, st.cellTable
    n = len(queue)

    def accept(L, markPrev=True, markCur=True):
        e = slot[L]
        e[LINK_STATE] = 2
        if markPrev:
            prevTab[e[PREV_INDEX]][LINK_MARK] = 2
        if markCur:
            curTab[e[CUR_INDEX]][LINK_MARK] = 2

    if n == 1:
        accept(queue[0])
        return

    # Rank order of the queue positions by overlap; strongest = last position.
    index = list(range(n))
    key = [slot[queue[q]][OVERLAP] for q in range(n)]
    r = segment.sort_indices(index, key, n - 1)
    if r is not None:
        index = r
    strongest = [queue[index[q]] for q in range(n - 1, -1, -1)]

    # R1: previous cells with a single candidate.
    for P in prevList:
        if prevTab[P][SMALL_FLAG] != 0:
            continue
        own = [L for L in queue if slot[L][PREV_INDEX] == P]
        if len(own) == 1:
            accept(own[0])

    # R2: current cells with a single candidate.
    for C in curList:
        if curTab[C][SMALL_FLAG] != 0:
            continue
        own = [L for L in queue if slot[L][CUR_INDEX] == C]
        if len(own) == 1:
            accept(own[0])

    # R3: greedy by overlap between unmatched, non-small cells.
    for L in strongest:
        e = slot[L]
        pr, cr = prevTab[e[PREV_INDEX]], curTab[e[CUR_INDEX]]
        if (e[LINK_STATE] == 0 and pr[SMALL_FLAG] == 0 and cr[SMALL_FLAG] == 0
                and pr[LINK_MARK] == 0 and cr[LINK_MARK] == 0):
            accept(L)

    # R4: previous cells still unmatched.
    for P in prevList:
        if prevTab[P][SMALL_FLAG] != 0 or prevTab[P][LINK_MARK] != 0:
            continue
        done = False
        # 1. join a merge: an accepted link to the same current cell from a touching previous cell
        for L in strongest:
            e = slot[L]
            if e[PREV_INDEX] != P or e[LINK_STATE] != 0:
                continue
            for J in queue:
                f = slot[J]
                if (f[LINK_STATE] == 2 and f[CUR_INDEX] == e[CUR_INDEX]
                        and f[PREV_INDEX] in prevAdj[P]):
                    accept(L, markPrev=True, markCur=False)
                    done = True
                    break
            if done:
                break
        if done:
            continue
        # 2. strongest link to an unmatched current cell
        for L in strongest:
            e = slot[L]
            if e[PREV_INDEX] == P and curTab[e[CUR_INDEX]][LINK_MARK] == 0:
                accept(L)
                done = True
                break
        if done:
            continue
        # 3. strongest link still open
        for L in strongest:
            e = slot[L]
            if e[PREV_INDEX] == P and e[LINK_STATE] == 0:
                accept(L)
                break

    # R5: current cells still unmatched.
    for C in curList:
        if curTab[C][SMALL_FLAG] != 0 or curTab[C][LINK_MARK] != 0:
            continue
        done = False
        # 1. join a split: an accepted link from the same previous cell to a touching current cell
        for L in strongest:
            e = slot[L]
            if e[CUR_INDEX] != C or e[LINK_STATE] != 0:
                continue
            for J in queue:
                f = slot[J]
                if (f[LINK_STATE] == 2 and f[PREV_INDEX] == e[PREV_INDEX]
                        and f[CUR_INDEX] in curAdj[C]):
                    accept(L, markPrev=False, markCur=True)
                    done = True
                    break
            if done:
                break
        if done:
            continue
        # 2. strongest open link to an unmatched previous cell
        for L in strongest:
            e = slot[L]
            if (e[CUR_INDEX] == C and e[LINK_STATE] == 0
                    and prevTab[e[PREV_INDEX]][LINK_MARK] == 0):
                accept(L)
                done = True
                break
        if done:
            continue
        # 3. strongest link still open
        for L in strongest:
            e = slot[L]
            if e[CUR_INDEX] == C and e[LINK_STATE] == 0:
                accept(L)
                break


def _merge_component(st, slot, queue, prevList, curAdj):
    """Touching fragments accepted for one previous cell: earlier takes the later's relabelTo."""
    curTab = st.cellTable
    for P in prevList:
        S = [slot[L][CUR_INDEX] for L in queue
             if slot[L][LINK_STATE] == 2 and slot[L][PREV_INDEX] == P]
        i = len(S)
        for a in range(i):
            for b in range(a + 1, i):
                if S[b] in curAdj[S[a]]:
                    curTab[S[a]][RELABEL_TO] = curTab[S[b]][RELABEL_TO]


def _resolve_links(st, slot, prevAdj, curAdj):
    prevTab, curTab = st.prevCellTable, st.cellTable
    # links of each cell in slot order
    byPrev, byCur = {}, {}
    for k, e in enumerate(slot):
        byPrev.setdefault(e[PREV_INDEX], []).append(k)
        byCur.setdefault(e[CUR_INDEX], []).append(k)
    for k0 in range(len(slot)):
        if slot[k0][LINK_STATE] != -1:
            continue
        queue = [k0]
        slot[k0][LINK_STATE] = 0
        prevList, curList = [], []
        t = 0
        while t < len(queue):
            e = slot[queue[t]]
            t += 1
            P = e[PREV_INDEX]
            if prevTab[P][LINK_MARK] == -1:
                prevTab[P][LINK_MARK] = 0
                prevList.append(P)
            for L in byPrev[P]:
                if slot[L][LINK_STATE] == -1:
                    slot[L][LINK_STATE] = 0
                    queue.append(L)
            C = e[CUR_INDEX]
            if curTab[C][LINK_MARK] == -1:
                curTab[C][LINK_MARK] = 0
                curList.append(C)
            for L in byCur[C]:
                if slot[L][LINK_STATE] == -1:
                    slot[L][LINK_STATE] = 0
                    queue.append(L)
        _resolve_component(st, slot, queue, prevList, curList, prevAdj, curAdj)
        if len(queue) > 1:
            _merge_component(st, slot, queue, prevList, curAdj)


def _absorb_unlinked(st, curAdj):
    curTab = st.cellTable
    for c in range(st.curCount):
        rc = curTab[c]
        if rc[LINK_MARK] != -1 or rc[SMALL_FLAG] != 0:
            continue
        for d in range(st.curCount):
            if d != c and curTab[d][LINK_MARK] == 2 and d in curAdj[c]:
                rc[RELABEL_TO] = curTab[d][RELABEL_TO]


# ---------------------------------------------------------------------------
# Relabelling and hole filling

def _relabel(st):
    seg, tab = st.segLabels, st.cellTable
    for p in range(st.W * st.H):
        if seg[p] >= 0:
            seg[p] = tab[seg[p]][RELABEL_TO]


def _fill_holes(st):
    W, H = st.W, st.H
    seg = st.segLabels
    nb = _four_neighbours(st)
    mark = [-1] * (W * H)
    for s in range(W * H):
        if mark[s] != -1 or seg[s] >= 0:
            continue
        queue = [s]
        mark[s] = s
        found = -1
        t = 0
        while t < len(queue):
            q = queue[t]
            t += 1
            qx, qy = q % W, q // W
            for dx, dy in nb:
                nx, ny = qx + dx, qy + dy
                if nx < 0 or nx >= W or ny < 0 or ny >= H:
                    found = -2
                    continue
                n = ny * W + nx
                if mark[n] != -1:
                    if mark[n] != s:
                        found = -2
                elif seg[n] < 0:
                    queue.append(n)
                    mark[n] = s
                else:
                    L = seg[n]
                    if found == -1:
                        found = L
                    elif found >= 0 and found != L:
                        found = -2
            if found == -2:
                break
        if found >= 0:
            for q in queue:
                seg[q] = found


# ---------------------------------------------------------------------------
# Final labelling and records

def _final_labelling(st, smallCellArea):
    """Numbers connected pieces of equal label; returns False if too many cells."""
    W, H = st.W, st.H
    seg = st.segLabels
    nb = _four_neighbours(st)
    old = st.cellTable
    labels = [-1] * (W * H)
    visit = [-1] * (W * H)
    labelMap = [-1] * CELL_LIMIT
    records = []
    for s in range(W * H):
        L = seg[s]
        if visit[s] != -1 or L < 0:
            continue
        i = len(records)
        if i >= CELL_LIMIT - 1:
            return False
        queue = [s]
        visit[s] = 1
        circ = 0
        t = 0
        while t < len(queue):
            q = queue[t]
            t += 1
            qx, qy = q % W, q // W
            for dx, dy in nb:
                nx, ny = qx + dx, qy + dy
                if nx < 0 or nx >= W or ny < 0 or ny >= H:
                    circ += 1
                    continue
                n = ny * W + nx
                if seg[n] != L:
                    circ += 1
                elif visit[n] == -1:
                    queue.append(n)
                    visit[n] = 1
        if L < CELL_LIMIT:
            labelMap[L] = i
        minX, minY, maxX, maxY = W, H, -1, -1
        for q in queue:
            labels[q] = i
            x, y = q % W, q // W
            minX = min(minX, x)
            maxX = max(maxX, x)
            minY = min(minY, y)
            maxY = max(maxY, y)
        # widths across 60 directions through the box centre
        cx = (minX + maxX) * 0.5
        cy = (minY + maxY) * 0.5
        angles = [k * 3.0 / 180.0 * PI for k in range(60)]
        lo = [0.0] * 60
        hi = [0.0] * 60
        for q in queue:
            x, y = q % W, q // W
            dx = cx - x
            dy = cy - y
            phi = math.atan2(dy, dx)
            r = math.sqrt(dx * dx + dy * dy)
            for k in range(60):
                v = r * math.sin(phi - angles[k])
                if v < lo[k]:
                    lo[k] = v
                if v > hi[k]:
                    hi[k] = v
        minW, maxW = 100000000.0, 0.0
        minAng = maxAng = 0
        for k in range(60):
            w = hi[k] - lo[k]
            if w < minW:
                minW = w
                minAng = (90 + 3 * k) % 180
            if w > maxW:
                maxW = w
                maxAng = (90 + 3 * k) % 180
        size = len(queue)
        rec = [0] * CELL_WORDS
        rec[SMALL_FLAG] = 1 if size < smallCellArea else 0
        rec[SIZE] = size
        rec[RELABEL_TO] = 0
        rec[CIRCUMFERENCE] = circ
        rec[MIN_WIDTH_ANGLE] = minAng
        rec[MAX_WIDTH_ANGLE] = maxAng
        rec[CENTER_X] = (minX + maxX) // 2
        rec[CENTER_Y] = (minY + maxY) // 2
        rec[MIN_WIDTH] = int(minW * 100)
        rec[MAX_WIDTH] = int(maxW * 100)
        rec[MIN_X], rec[MIN_Y], rec[MAX_X], rec[MAX_Y] = minX, minY, maxX, maxY
        rec[CELL_ID] = -1
        rec[LIFE] = 0
        rec[TOTAL_WAY] = 0
        rec[RESERVED] = old[i][RESERVED] if i < len(old) else 0  # never written here
        rec[LINK_MARK] = -1
        rec[ID_DRAWN] = 0
        records.append(rec)
    st.frameLabels = labels
    st.cellTable = records
    st.finalCount = len(records)
    st.labelMap = labelMap
    return True


# ---------------------------------------------------------------------------
# Identity carry-over

def _carry_identities(st, slot):
    tab, prevTab = st.cellTable, st.prevCellTable
    for e in slot:
        if e[LINK_STATE] != 2:
            continue
        m = st.labelMap[e[CUR_INDEX]]
        if m == -1:
            e[LINK_STATE] = 1
        else:
            rec = tab[m]
            e[CUR_X] = rec[CENTER_X]
            e[CUR_Y] = rec[CENTER_Y]
            e[CUR_INDEX] = m
            e[CARRIED_ID] = -1
            e[CUR_SMALL] = rec[SMALL_FLAG]
    prevUse, curUse = {}, {}
    for e in slot:
        if e[LINK_STATE] == 2:
            prevUse[e[PREV_INDEX]] = prevUse.get(e[PREV_INDEX], 0) + 1
            curUse[e[CUR_INDEX]] = curUse.get(e[CUR_INDEX], 0) + 1
    for e in slot:
        if e[LINK_STATE] != 2:
            continue
        if prevUse[e[PREV_INDEX]] > 1 or curUse[e[CUR_INDEX]] > 1:
            continue
        P, C = prevTab[e[PREV_INDEX]], tab[e[CUR_INDEX]]
        ddx = e[PREV_X] - e[CUR_X]
        ddy = e[PREV_Y] - e[CUR_Y]
        d = math.sqrt(float(ddx * ddx + ddy * ddy))
        e[CARRIED_ID] = P[CELL_ID]
        C[CELL_ID] = P[CELL_ID]
        C[LIFE] = int32(P[LIFE] + 1)
        C[TOTAL_WAY] = int32(int(P[TOTAL_WAY] + d * 100.0))
    for rec in tab:
        if rec[CELL_ID] == -1:
            rec[CELL_ID] = st.nextCellId
            st.nextCellId = int32(st.nextCellId + 1)


# ---------------------------------------------------------------------------
# One frame of tracking

def track_frame(st, j, smallCellArea):
    slot = st.linkHistory[j % 50]
    if j > 1:
        _list_links(st, j)
        if st.linkCount >= LINK_LIMIT:
            return 'links'
        prevAdj = _adjacency(st.W, st.H, st.prevFrameLabels, st.prevCount)
        curAdj = _adjacency(st.W, st.H, st.segLabels, st.curCount)
        _resolve_links(st, slot, prevAdj, curAdj)
        _absorb_unlinked(st, curAdj)
    else:
        st.linkCount = 0
    _relabel(st)
    _fill_holes(st)
    if not _final_labelling(st, smallCellArea):
        return 'cells'
    _carry_identities(st, slot if j > 1 else [])
    return 'ok'


# ---------------------------------------------------------------------------
# Calculation image

def draw_calculation(st, canvas, j, drawIds):
    W, H = st.W, st.H
    lab = st.frameLabels
    tab = st.cellTable
    canvas.render_gray()
    # outlines: cell pixels with an in-frame neighbour of another value
    for y in range(H):
        for x in range(W):
            p = y * W + x
            L = lab[p]
            if L == -1:
                continue
            c = 0
            if x > 0 and lab[p - 1] != L:
                c += 1
            if y > 0 and lab[p - W] != L:
                c += 1
            if x < W - 1 and lab[p + 1] != L:
                c += 1
            if y < H - 1 and lab[p + W] != L:
                c += 1
            if c != 0:
                g = 255 if tab[L][SMALL_FLAG] == 1 else 0
                canvas.set_pixel(x, y, 255, g, 0)
    # accepted links of the last five frames, fading with age
    for s in range(5):
        for e in st.linkHistory[(j % 50 + 46 + s) % 50]:
            if e[PREV_X] == -1:
                break
            if e[LINK_STATE] >= 2:
                canvas.draw_line(e[PREV_X], e[PREV_Y], e[CUR_X], e[CUR_Y], 0, 0, 255,
                                 s * 0.2, (s + 1) * 0.2)
    # identities at each cell's first pixel
    if drawIds:
        for y in range(H):
            for x in range(W):
                L = lab[y * W + x]
                if L >= 0 and tab[L][ID_DRAWN] == 0:
                    tab[L][ID_DRAWN] = 1
                    canvas.draw_number(x, y, tab[L][CELL_ID])
