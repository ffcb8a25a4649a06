// Per-pixel searches of the analyser. Work item (x, y) computes pixel y * width + x. addtwo
// runs on exactly the frame; addone runs in square groups over a range rounded up to whole
// groups, and its items outside the frame do nothing.

// Record layout shared with the host: 20 words per cell record.
#define CELL_WORDS 20
#define WORD_CENTER_X 6
#define WORD_CENTER_Y 7
#define WINDOW_OFFSETS 441

// For a cell pixel of `from`, the label in `other` at the first of the 441 sorted window
// offsets that lies in the frame and holds a cell; -1 for no such offset or no cell in `from`.
// The search starts at offset `first`: the host has shown that every offset before it lands,
// from this pixel, outside the frame or on no cell of `other` (see LabelReach), so the answer
// is the one a search from offset 0 gives.
static int nearestOtherLabel(__global const int* from, __global const int* other, __global const char* dx,
                             __global const char* dy, int x, int y, int width, int height, int first) {
    if (from[y * width + x] < 0) return -1;
    for (int k = first; k < WINDOW_OFFSETS; ++k) {
        const int qx = x + dx[k];
        const int qy = y + dy[k];
        if (qx < 0 || qy < 0 || qx >= width || qy >= height) continue;
        const int v = other[qy * width + qx];
        if (v >= 0) return v;
    }
    return -1;
}

// A: for each previous-frame cell pixel the nearest current-frame label; B the reverse.
// firstA and firstB hold the first offset of each search for each tile of tileSide x tileSide
// pixels, tiles in rows of tilesAcross.
__kernel void addtwo(__global const int* labelsPrev, __global const int* labelsCur, __global int* outA,
                     __global int* outB, __global const char* offsetDx, __global const char* offsetDy, int width,
                     int height, __global const int* firstA, __global const int* firstB, int tileSide,
                     int tilesAcross) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= width || y >= height) return;
    const int p = y * width + x;
    const int tile = (y / tileSide) * tilesAcross + x / tileSide;
    outA[p] = nearestOtherLabel(labelsPrev, labelsCur, offsetDx, offsetDy, x, y, width, height, firstA[tile]);
    outB[p] = nearestOtherLabel(labelsCur, labelsPrev, offsetDx, offsetDy, x, y, width, height, firstB[tile]);
}

// Squared distances are exact in 64 bits for any 32-bit centre and any frame side below
// 2^16: each difference is at most 2^31 + 2^16 in size, so each square stays below 2^63 and
// the sum of two below 2^64.
static ulong squared(long d) {
    const ulong m = (ulong)(d < 0 ? -d : d);
    return m * m;
}

// Nearest-cell map: the index of the record whose (centerX, centerY) is nearest to the pixel
// by exact squared distance, the lowest index on ties, -1 when record 0 is the end marker.
//
// The host lists, for each work group (a square of pixels), the records that can be nearest
// to one of its pixels: groupSpans holds the first entry in groupEntries and the count of
// each group, groups in rows; a count of -1 stands for every record below siteCount, the
// records before the table's first end marker. Candidates come in any order and are compared
// by (distance, index).
__kernel void addone(__global int* outNearest, __global const int* cellTable, int width, int height,
                     __global const int* groupSpans, __global const int* groupEntries, int siteCount) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= width || y >= height) return;
    const int group = get_group_id(1) * get_num_groups(0) + get_group_id(0);
    const int first = groupSpans[2 * group];
    const int count = groupSpans[2 * group + 1];
    const int listed = count >= 0;
    const int end = listed ? count : siteCount;

    int best = -1;
    ulong bestDistance = ULONG_MAX;
    for (int i = 0; i < end; ++i) {
        const int k = listed ? groupEntries[first + i] : i;
        __global const int* record = cellTable + k * CELL_WORDS;
        const ulong distance = squared((long)record[WORD_CENTER_X] - x) + squared((long)record[WORD_CENTER_Y] - y);
        if (distance < bestDistance || (distance == bestDistance && k < best)) {
            best = k;
            bestDistance = distance;
        }
    }
    outNearest[y * width + x] = best;
}
