// Per-pixel searches of the analyser. Work item (x, y) computes pixel y * width + x. addtwo
// runs on exactly the frame; addone runs in square groups over a range rounded up to whole
// groups, so its items outside the frame take part in the group's work but write nothing.

// Record layout shared with the host: 20 words per cell record, 2,000 records per table.
#define CELL_WORDS 20
#define WORD_SMALL_FLAG 0
#define WORD_CENTER_X 6
#define WORD_CENTER_Y 7
#define END_MARKER (-1)
#define TABLE_RECORDS 2000
#define WINDOW_OFFSETS 441

// For a cell pixel of `from`, the label in `other` at the first of the 441 sorted window
// offsets that lies in the frame and holds a cell; -1 for no such offset or no cell in `from`.
static int nearestOtherLabel(__global const int* from, __global const int* other, __global const char* dx,
                             __global const char* dy, int x, int y, int width, int height) {
    if (from[y * width + x] < 0) return -1;
    for (int k = 0; k < WINDOW_OFFSETS; ++k) {
        const int qx = x + dx[k];
        const int qy = y + dy[k];
        if (qx < 0 || qy < 0 || qx >= width || qy >= height) continue;
        const int v = other[qy * width + qx];
        if (v >= 0) return v;
    }
    return -1;
}

// A: for each previous-frame cell pixel the nearest current-frame label; B the reverse.
__kernel void addtwo(__global const int* labelsPrev, __global const int* labelsCur, __global int* outA,
                     __global int* outB, __global const char* offsetDx, __global const char* offsetDy, int width,
                     int height) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= width || y >= height) return;
    const int p = y * width + x;
    outA[p] = nearestOtherLabel(labelsPrev, labelsCur, offsetDx, offsetDy, x, y, width, height);
    outB[p] = nearestOtherLabel(labelsCur, labelsPrev, offsetDx, offsetDy, x, y, width, height);
}

// Squared distances are exact in 64 bits for any 32-bit centre and any frame side below
// 2^16: each difference is at most 2^31 + 2^16 in size, so each square stays below 2^63 and
// the sum of two below 2^64.
static ulong squared(long d) {
    const ulong m = (ulong)(d < 0 ? -d : d);
    return m * m;
}

// Squared distance from c to the nearest and to the farthest point of [lo, hi].
static ulong nearGap(int c, int lo, int hi) { return squared(c < lo ? (long)lo - c : (c > hi ? (long)c - hi : 0)); }
static ulong farGap(int c, int lo, int hi) { return squared(max((long)c - lo, (long)hi - c)); }

// Nearest-cell map: the index of the record whose (centerX, centerY) is nearest to the pixel
// by exact squared distance, the lowest index on ties, -1 when record 0 is the end marker.
// Records are read up to the first end marker, never past the last record of the table.
//
// Each work group first loads the centres into local memory and keeps as candidates only
// the records whose nearest point to the group's pixel rectangle is no farther than the
// smallest farthest-corner distance of any record (the bound). The winner of every pixel of
// the rectangle lies within that bound, so it is a candidate; candidates come in any order
// and are compared by (distance, index).
__kernel void addone(__global int* outNearest, __global const int* cellTable, int width, int height) {
    __local int siteX[TABLE_RECORDS];
    __local int siteY[TABLE_RECORDS];
    __local short candidates[TABLE_RECORDS];
    __local int siteCount;
    __local int candidateCount;
    __local uint bound;

    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int lid = get_local_id(1) * get_local_size(0) + get_local_id(0);
    const int groupSize = get_local_size(0) * get_local_size(1);
    const int x0 = get_group_id(0) * get_local_size(0);
    const int y0 = get_group_id(1) * get_local_size(1);
    const int x1 = min(x0 + (int)get_local_size(0), width) - 1;
    const int y1 = min(y0 + (int)get_local_size(1), height) - 1;

    if (lid == 0) {
        siteCount = TABLE_RECORDS;
        candidateCount = 0;
        bound = UINT_MAX;
    }
    barrier(CLK_LOCAL_MEM_FENCE);

    // Centres, one group-sized chunk at a time until a chunk holds the end marker.
    for (int chunk = 0; chunk < TABLE_RECORDS; chunk += groupSize) {
        const int k = chunk + lid;
        if (k < TABLE_RECORDS) {
            __global const int* record = cellTable + k * CELL_WORDS;
            if (record[WORD_SMALL_FLAG] == END_MARKER) atomic_min(&siteCount, k);
            siteX[k] = record[WORD_CENTER_X];
            siteY[k] = record[WORD_CENTER_Y];
        }
        barrier(CLK_LOCAL_MEM_FENCE);
        const int found = siteCount;
        barrier(CLK_LOCAL_MEM_FENCE);
        if (found < TABLE_RECORDS) break;
    }
    const int count = siteCount;

    // The bound, kept in 32 bits: UINT_MAX stands for "too far to tell" and keeps every record.
    ulong nearestFar = ULONG_MAX;
    for (int k = lid; k < count; k += groupSize) {
        nearestFar = min(nearestFar, farGap(siteX[k], x0, x1) + farGap(siteY[k], y0, y1));
    }
    if (nearestFar < UINT_MAX) atomic_min(&bound, (uint)nearestFar);
    barrier(CLK_LOCAL_MEM_FENCE);
    const uint limit = bound;
    for (int k = lid; k < count; k += groupSize) {
        if (limit == UINT_MAX || nearGap(siteX[k], x0, x1) + nearGap(siteY[k], y0, y1) <= limit) {
            candidates[atomic_inc(&candidateCount)] = (short)k;
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);

    int best = -1;
    ulong bestDistance = ULONG_MAX;
    const int candidatesFound = candidateCount;
    for (int i = 0; i < candidatesFound; ++i) {
        const int k = candidates[i];
        const ulong distance = squared((long)siteX[k] - x) + squared((long)siteY[k] - y);
        if (distance < bestDistance || (distance == bestDistance && k < best)) {
            best = k;
            bestDistance = distance;
        }
    }
    if (x < width && y < height) outNearest[y * width + x] = best;
}
