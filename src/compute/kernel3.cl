// Per-pixel searches of the analyser. Work item (x, y) computes pixel y * width + x.

// Record layout shared with the host: 20 words per cell record.
#define CELL_WORDS 20
#define WORD_SMALL_FLAG 0
#define WORD_CENTER_X 6
#define WORD_CENTER_Y 7
#define TABLE_RECORDS 2000
#define WINDOW_OFFSETS 441

// For every pixel of a cell in `from`, the label in `other` at the nearest of the 441 sorted
// window offsets that holds a cell, or -1.
static int nearestOtherLabel(__global const int* from, __global const int* other, __global const char* dx,
                             __global const char* dy, int x, int y, int width, int height) {
    if (from[y * width + x] < 0) return -1;
    for (int k = 0; k < WINDOW_OFFSETS; ++k) {
        int qx = x + dx[k];
        int qy = y + dy[k];
        if (qx < 0 || qy < 0 || qx >= width || qy >= height) continue;
        int v = other[qy * width + qx];
        if (v >= 0) return v;
    }
    return -1;
}

__kernel void addtwo(__global const int* labelsPrev, __global const int* labelsCur, __global int* outA,
                     __global int* outB, __global const char* offsetDx, __global const char* offsetDy, int width,
                     int height) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= width || y >= height) return;
    int p = y * width + x;
    outA[p] = nearestOtherLabel(labelsPrev, labelsCur, offsetDx, offsetDy, x, y, width, height);
    outB[p] = nearestOtherLabel(labelsCur, labelsPrev, offsetDx, offsetDy, x, y, width, height);
}

// Index of the record whose centre is nearest by exact squared distance; the lowest index
// wins ties; -1 when the table holds no cell.
__kernel void addone(__global int* outNearest, __global const int* cellTable, int width, int height) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= width || y >= height) return;
    int best = -1;
    long bestDistance = 0;
    for (int k = 0; k < TABLE_RECORDS; ++k) {
        __global const int* record = cellTable + k * CELL_WORDS;
        if (record[WORD_SMALL_FLAG] == -1) break;
        long ddx = (long)(record[WORD_CENTER_X] - x);
        long ddy = (long)(record[WORD_CENTER_Y] - y);
        long distance = ddx * ddx + ddy * ddy;
        if (best < 0 || distance < bestDistance) {
            best = k;
            bestDistance = distance;
        }
    }
    outNearest[y * width + x] = best;
}
