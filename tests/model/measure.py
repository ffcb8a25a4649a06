"""Measurement and reports: nearest-cell map, Voronoi neighbours and image,
motion and diffusion measures, the cell and average report lines."""

import math
from bisect import bisect_left

from state import (SMALL_FLAG, SIZE, VORONOI_AREA, CIRCUMFERENCE, MIN_WIDTH_ANGLE,
                   MAX_WIDTH_ANGLE, CENTER_X, CENTER_Y, MIN_WIDTH, MAX_WIDTH, MIN_X,
                   MIN_Y, MAX_X, MAX_Y, CELL_ID, LIFE, TOTAL_WAY,
                   PREV_X, PREV_Y, CUR_X, CUR_Y, LINK_STATE, CARRIED_ID, CUR_SMALL,
                   int32)

PI = 3.1415927
ABSENT = -100.0
# The default NaN of x86 arithmetic (0/0, 0*inf) has its sign bit set.
_DEFAULT_NAN = -float("nan")


# ---------------------------------------------------------------------------
# C-like floating helpers (Python raises where C returns inf / nan)

def c_div(a, b):
    """a / b in IEEE double arithmetic, as C computes it."""
    a = float(a)
    b = float(b)
    if b != 0.0:
        return a / b
    if math.isnan(a):
        return a
    if a == 0.0:
        return _DEFAULT_NAN
    neg = (math.copysign(1.0, a) < 0) != (math.copysign(1.0, b) < 0)
    return -math.inf if neg else math.inf


def c_log(x):
    """Natural logarithm with C's results for 0, negatives and NaN."""
    x = float(x)
    if math.isnan(x):
        return x
    if x == 0.0:
        return -math.inf
    if x < 0.0:
        return _DEFAULT_NAN
    return math.log(x)


def fmt(v):
    """A value as a default-formatted C++ stream writes it (precision 6)."""
    if isinstance(v, int):
        return str(v)
    if math.isnan(v):
        return "-nan" if math.copysign(1.0, v) < 0 else "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return "%g" % v


def _table(st, name):
    t = st.tables
    return t[name] if isinstance(t, dict) else getattr(t, name)


def _degrees(dy, dx):
    """Direction of an integer step in degrees (y down), with the fixed pi."""
    return math.atan2(float(dy), float(dx)) / PI * 180


# ---------------------------------------------------------------------------
# Nearest-cell map

def addone(st):
    """Fills nearestCellMap with the index of the nearest final cell centre
    (exact squared distance, lowest index on ties); -1 everywhere without cells."""
    W, H = st.W, st.H
    cells = st.cellTable[:st.finalCount]
    n = len(cells)
    out = st.nearestCellMap
    if n == 0:
        for p in range(W * H):
            out[p] = -1
        return
    # Sites sorted by x: scanning outwards from x stops once dx^2 alone
    # exceeds the best distance, so the search stays exact.
    order = sorted(range(n), key=lambda k: (cells[k][CENTER_X], k))
    xs = [cells[k][CENTER_X] for k in order]
    ys = [cells[k][CENTER_Y] for k in order]
    for y in range(H):
        dy2 = [(cy - y) * (cy - y) for cy in ys]
        row = y * W
        for x in range(W):
            start = bisect_left(xs, x)
            best_d = -1
            best_k = -1
            r = start
            while r < n:
                ddx = xs[r] - x
                ddx2 = ddx * ddx
                if best_d >= 0 and ddx2 > best_d:
                    break
                d = ddx2 + dy2[r]
                k = order[r]
                if best_d < 0 or d < best_d or (d == best_d and k < best_k):
                    best_d, best_k = d, k
                r += 1
            l = start - 1
            while l >= 0:
                ddx = xs[l] - x
                ddx2 = ddx * ddx
                if best_d >= 0 and ddx2 > best_d:
                    break
                d = ddx2 + dy2[l]
                k = order[l]
                if best_d < 0 or d < best_d or (d == best_d and k < best_k):
                    best_d, best_k = d, k
                l -= 1
            out[row + x] = best_k


# ---------------------------------------------------------------------------
# Voronoi areas and touching pairs

def voronoi(st):
    """Counts each cell's Voronoi region into word 2 and lists the touching
    pairs (key max*n+min) in order of first discovery."""
    st.voronoiPairs = []
    n = st.finalCount
    if n <= 0:
        return
    W, H = st.W, st.H
    cmap = st.nearestCellMap
    cells = st.cellTable
    dxs = _table(st, "offsetDx")
    dys = _table(st, "offsetDy")
    kend = _table(st, "discCount")[1]
    offsets = [(dxs[k], dys[k]) for k in range(1, kend)]
    seen = set()
    pairs = st.voronoiPairs
    for p in range(W * H):
        x = p % W
        y = p // W
        a = cmap[p]
        cells[a][VORONOI_AREA] += 1
        for ox, oy in offsets:
            nx = x + ox
            ny = y + oy
            if nx < 0 or ny < 0 or nx >= W or ny >= H:
                continue
            b = cmap[ny * W + nx]
            if b == a:
                continue
            key = max(a, b) * n + min(a, b)
            if key not in seen:
                seen.add(key)
                pairs.append(key)


def draw_voronoi(st, canvas):
    """Gray frame, red outlines of non-small cells, blue region borders,
    yellow lines between touching cells' centres."""
    W, H = st.W, st.H
    labels = st.frameLabels
    cmap = st.nearestCellMap
    cells = st.cellTable
    n = st.finalCount
    canvas.render_gray()
    neighbours = ((-1, 0), (0, -1), (1, 0), (0, 1))  # left, up, right, down
    for y in range(H):
        for x in range(W):
            L = labels[y * W + x]
            if L == -1 or cells[L][SMALL_FLAG] != 0:
                continue
            for ox, oy in neighbours:
                nx, ny = x + ox, y + oy
                if 0 <= nx < W and 0 <= ny < H and labels[ny * W + nx] != L:
                    canvas.set_pixel(x, y, 255, 0, 0)
                    break
    for y in range(H):
        for x in range(W):
            v = cmap[y * W + x]
            for ox, oy in neighbours:
                nx, ny = x + ox, y + oy
                if 0 <= nx < W and 0 <= ny < H and cmap[ny * W + nx] != v:
                    canvas.set_pixel(x, y, 0, 0, 255)
    for key in st.voronoiPairs:
        a = key // n
        b = key % n
        canvas.draw_line(cells[b][CENTER_X], cells[b][CENTER_Y],
                         cells[a][CENTER_X], cells[a][CENTER_Y],
                         255, 255, 0, 1.0, 1.0)


# ---------------------------------------------------------------------------
# Report headers

_CELL_COLUMNS = [
    "Frame", "Index", "Id", "Size", "Circumference", "Circularity", "Center X",
    "Center Y", "Voronoi", "Min X", "Min Y", "Max X", "Max Y", "Min Angle",
    "Min Length", "Max Angle", "Max Length", "Thick / Thin", "Life", "",
    "Total Way", "Ave. Way (15)", "Ave. Way (30)", "Ave. Way (45)",
    "Diffuse (15)", "Diffuse (30)", "Diffuse (45)", "", "Angle (1)",
    "Distance (1)", "Angle (45)", "Distance (45)",
]

_DIRECTIONS = ["N", "NE", "E", "SE", "S", "SW", "W", "NW"]
_GROUP = ["Count", "Size", "Circumference", "Circularity", "Life", "Way"]


def _line(fields):
    return "".join(f + "," for f in fields)


def cell_header():
    return _line(_CELL_COLUMNS)


def average_header():
    groups = ([""] * 3 + ["Mutch"] * 12 + ["Last 1"] * 8 + ["Last 30"] * 8 + [""]
              + ["Small"] * 6 + [""] + ["All"] * 6)
    names = (["Index", "Time", ""] + _GROUP
             + ["Diffuse (15)", "Diffuse (30)", "Diffuse (45)", "Thick", "Thin", "Aspect"]
             + _DIRECTIONS + _DIRECTIONS + [""] + _GROUP + [""] + _GROUP)
    return [_line(groups), _line(names)]


# ---------------------------------------------------------------------------
# Link history access

def _slot_entries(slot):
    """Entries of a slot in stored order, up to the first one whose prevX is -1."""
    out = []
    for e in slot:
        if e[PREV_X] == -1:
            break
        out.append(e)
    return out


def _counting_index(entries):
    """Per carried identity, the accepted entries carrying it, in stored order."""
    idx = {}
    for e in entries:
        if e[LINK_STATE] == 2:
            idx.setdefault(e[CARRIED_ID], []).append(e)
    return idx


# ---------------------------------------------------------------------------
# Motion measures

def motion_measures(index_of_slot, j, cell_id):
    """Walk of ages 1..45 (oldest first). Returns a dict of the measures;
    a missing measure is None."""
    start_x = start_y = -1
    end_x = end_y = -1
    last_angle = last_len = 0.0
    last_count = 0
    c15 = c30 = c45 = 0
    s15 = s30 = s45 = 0.0
    for a in range(1, 46):
        s = (j % 50 + 5 + a) % 50
        for e in index_of_slot[s].get(cell_id, ()):
            dx = e[PREV_X] - e[CUR_X]
            dy = e[PREV_Y] - e[CUR_Y]
            ln = math.sqrt(dx * dx + dy * dy)
            if start_x == -1:
                start_x, start_y = e[PREV_X], e[PREV_Y]
            if a >= 45:
                last_count += 1
                last_len = ln
                last_angle = _degrees(e[CUR_Y] - e[PREV_Y], e[CUR_X] - e[PREV_X])
                end_x, end_y = e[CUR_X], e[CUR_Y]
            if a >= 31:
                c15 += 1
                s15 += ln
            if a >= 16:
                c30 += 1
                s30 += ln
            c45 += 1
            s45 += ln
    m = {
        "way15": s15 / c15 if c15 >= 1 else None,
        "way30": s30 / c30 if c30 >= 1 else None,
        "way45": s45 / c45 if c45 >= 1 else None,
        "lastCount": last_count,
        "angle1": None, "dist1": None, "angle45": None, "dist45": None,
    }
    if last_count > 0:
        ex = end_x - start_x
        ey = end_y - start_y
        m["angle1"] = last_angle
        m["dist1"] = last_len
        m["angle45"] = _degrees(ey, ex)
        m["dist45"] = math.sqrt(ex * ex + ey * ey)
    return m


# ---------------------------------------------------------------------------
# Diffusion exponents

_WINDOW_MIN_AGE = (36, 21, 6)  # windows of 15, 30 and 45 frames


def diffusion(index_of_slot, j, cell_id, life):
    """Least-squares slopes of ln(S_k/k) over ln k for the three windows;
    -100.0 when absent (NaN results are returned as they are)."""
    res = [ABSENT, ABSENT, ABSENT]
    if life < 5:
        return res
    walk = []
    for a in range(1, 51):
        s = (j % 50 + a) % 50
        for e in index_of_slot[s].get(cell_id, ()):
            walk.append((a, e))
    x0 = [None] * 3
    y0 = [None] * 3
    m = [0] * 3
    S = [0] * 3
    sum_x = [0.0] * 3
    sum_y = [0.0] * 3
    # first pass: start points, counts and the two means
    for a, e in walk:
        for w in range(3):
            if a < _WINDOW_MIN_AGE[w]:
                continue
            if x0[w] is None:
                x0[w], y0[w] = e[PREV_X], e[PREV_Y]
            m[w] += 1
            ddx = e[CUR_X] - x0[w]
            ddy = e[CUR_Y] - y0[w]
            S[w] = int32(S[w] + int32(ddx * ddx + ddy * ddy))
            sum_x[w] += c_log(m[w])
            sum_y[w] += c_log(c_div(S[w], m[w]))
    # second pass: centred sums
    m2 = [0] * 3
    S2 = [0] * 3
    sxx = [0.0] * 3
    sxy = [0.0] * 3
    for a, e in walk:
        for w in range(3):
            if m[w] == 0 or a < _WINDOW_MIN_AGE[w]:
                continue
            m2[w] += 1
            ddx = e[CUR_X] - x0[w]
            ddy = e[CUR_Y] - y0[w]
            S2[w] = int32(S2[w] + int32(ddx * ddx + ddy * ddy))
            dx = c_log(m2[w]) - sum_x[w] / m[w]
            dy = c_log(c_div(S2[w], m2[w])) - sum_y[w] / m[w]
            sxx[w] += dx * dx
            sxy[w] += dx * dy
    for w in range(3):
        if m[w] > 0:
            res[w] = c_div(sxy[w], sxx[w])
    return res


def _present(v):
    return v > ABSENT  # False for NaN as well


# ---------------------------------------------------------------------------
# Per-frame report

def _circularity(rec):
    return 2 * math.sqrt(rec[SIZE] / PI) * PI * c_div(1.0, rec[CIRCUMFERENCE])


def _opt(v):
    return "" if v is None else fmt(v)


def report_frame(st, j):
    """Cell report lines (non-small cells, table order) and the average line."""
    slots = [_slot_entries(st.linkHistory[s]) for s in range(50)]
    index_of_slot = [_counting_index(entries) for entries in slots]

    n = st.finalCount
    cell_lines = []

    # accumulators: all cells and the non-small ("Mutch") cells
    all_size = all_circ = all_life = 0
    all_round = 0.0
    all_way_count = 0
    all_way = 0.0
    mc = mu_size = mu_circ = mu_life = 0
    mu_round = 0.0
    mu_way_count = 0
    mu_way = 0.0
    dif_count = [0, 0, 0]
    dif_sum = [0.0, 0.0, 0.0]
    thick = thin = aspect = 0.0

    for i in range(n):
        rec = st.cellTable[i]
        cid = rec[CELL_ID]
        mm = motion_measures(index_of_slot, j, cid)
        dif = diffusion(index_of_slot, j, cid, rec[LIFE])
        circularity = _circularity(rec)
        ratio = c_div(rec[MAX_WIDTH], rec[MIN_WIDTH])
        small = rec[SMALL_FLAG]

        if small == 0:
            fields = [
                fmt(j), fmt(i), fmt(cid), fmt(rec[SIZE]), fmt(rec[CIRCUMFERENCE]),
                fmt(circularity), fmt(rec[CENTER_X]), fmt(rec[CENTER_Y]),
                fmt(rec[VORONOI_AREA]), fmt(rec[MIN_X]), fmt(rec[MIN_Y]),
                fmt(rec[MAX_X]), fmt(rec[MAX_Y]), fmt(rec[MIN_WIDTH_ANGLE]),
                fmt(rec[MIN_WIDTH] / 100.0), fmt(rec[MAX_WIDTH_ANGLE]),
                fmt(rec[MAX_WIDTH] / 100.0), fmt(ratio), fmt(rec[LIFE]), "",
                fmt(rec[TOTAL_WAY] / 100.0),
                _opt(mm["way15"]), _opt(mm["way30"]), _opt(mm["way45"]),
            ]
            fields += [fmt(v) if _present(v) else "" for v in dif]
            fields.append("")
            if mm["lastCount"] > 0:
                fields += [fmt(mm["angle1"]), fmt(mm["dist1"]),
                           fmt(mm["angle45"]), fmt(mm["dist45"])]
            cell_lines.append(_line(fields))

        # frame sums
        all_size += rec[SIZE]
        all_circ += rec[CIRCUMFERENCE]
        all_life += rec[LIFE]
        all_round += circularity
        if mm["lastCount"] > 0:
            all_way_count += 1
            all_way += mm["dist1"]
        if small == 0:
            mc += 1
            mu_size += rec[SIZE]
            mu_circ += rec[CIRCUMFERENCE]
            mu_life += rec[LIFE]
            mu_round += circularity
            if mm["lastCount"] > 0:
                mu_way_count += 1
                mu_way += mm["dist1"]
            for w in range(3):
                if _present(dif[w]):
                    dif_count[w] += 1
                    dif_sum[w] += dif[w]
            thick += rec[MAX_WIDTH] / 100.0
            thin += rec[MIN_WIDTH] / 100.0
            aspect += ratio

    # direction histograms of accepted steps to non-small cells
    def add_bins(bins, entries):
        for e in entries:
            if e[LINK_STATE] == 2 and e[CUR_SMALL] == 0:
                deg = _degrees(e[CUR_Y] - e[PREV_Y], e[CUR_X] - e[PREV_X])
                t = int(deg + 360 + 90 + 22.5)
                bins[t % 360 // 45] += 1

    last1 = [0] * 8
    add_bins(last1, slots[j % 50])
    last30 = [0] * 8
    for k in range(30):
        add_bins(last30, slots[(j % 50 + 21 + k) % 50])

    dm = max(mc, 1)
    sc = max(n - mc, 1)
    da = max(n, 1)
    row = [fmt(j), "0", "",
           fmt(mc), fmt(float(mu_size) / dm), fmt(float(mu_circ) / dm),
           fmt(mu_round / dm), fmt(float(mu_life) / dm),
           fmt(mu_way / max(mu_way_count, 1))]
    row += [fmt(dif_sum[w] / max(dif_count[w], 1)) for w in range(3)]
    row += [fmt(thick / dm), fmt(thin / dm), fmt(aspect / dm)]
    row += [fmt(c) for c in last1] + [fmt(c) for c in last30]
    row += ["", fmt(sc),
            fmt((float(all_size) - float(mu_size)) / sc),
            fmt((float(all_circ) - float(mu_circ)) / sc),
            fmt((all_round - mu_round) / sc),
            fmt((float(all_life) - float(mu_life)) / sc),
            fmt((all_way - mu_way) / max(all_way_count - mu_way_count, 1))]
    row += ["", fmt(n), fmt(float(all_size) / da), fmt(float(all_circ) / da),
            fmt(all_round / da), fmt(float(all_life) / da),
            fmt(all_way / max(all_way_count, 1))]
    return cell_lines, _line(row)

