"""Runs the model over a numbered series of 8-bit gray PNG frames, writing the reports and
bitmaps like the analyser does (the time column of the average report is written as 0)."""
import argparse
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import canvas as cv  # noqa: E402
import measure  # noqa: E402
import segment  # noqa: E402
import track  # noqa: E402
from state import State  # noqa: E402


def read_gray_png(path):
    """Decodes a non-interlaced 8-bit gray (or palette: indices) PNG; None when it cannot."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return None
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or ctype not in (0, 3) or interlace:
                return None
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(w)
    for y in range(h):
        f, line = raw[y * (w + 1)], bytearray(raw[y * (w + 1) + 1:(y + 1) * (w + 1)])
        for x in range(w):
            a = line[x - 1] if x else 0
            b, c = prev[x], prev[x - 1] if x else 0
            if f == 1:
                line[x] = (line[x] + a) & 255
            elif f == 2:
                line[x] = (line[x] + b) & 255
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return w, h, rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--w", type=int, required=True)
    ap.add_argument("--h", type=int, required=True)
    ap.add_argument("--x", type=int, default=0)
    ap.add_argument("--y", type=int, default=0)
    ap.add_argument("--count", type=int, required=True)
    ap.add_argument("--threshold", type=int, default=0)
    ap.add_argument("--size", type=int, default=0)
    ap.add_argument("--output", required=True)
    ap.add_argument("--image", action="store_true")
    ap.add_argument("--id", action="store_true")
    ap.add_argument("--voronoi", action="store_true")
    a = ap.parse_args()

    W, H = a.w, a.h
    st = State(W, H, segment.build_tables())
    canvas = cv.Canvas(W, H)
    avg = open(os.path.join(a.output, "_average.csv"), "w")
    cell = open(os.path.join(a.output, "_cell.csv"), "w")
    for line in measure.average_header():
        avg.write(line + "\n")
    cell.write(measure.cell_header() + "\n")
    for j in range(1, a.count + 1):
        st.linkHistory[j % 50] = []
        image = read_gray_png(a.source % j)
        if image is None:
            print("Image Load Error")
        else:
            iw, ih, rows = image
            if a.x < 0 or a.y < 0 or a.x + W > iw or a.y + H > ih:
                print("Image Load Error")
            else:
                st.gray = [rows[a.y + i][a.x + k] for i in range(H) for k in range(W)]
        canvas.gray = st.gray
        if segment.segment_frame(st, a.threshold, a.size):
            print("Cell Number Too Much ")
            break
        result = track.track_frame(st, j, a.size)
        if result != "ok":
            print("Link Number Too Much " if result == "links" else "Cell Number Too Much ")
            break
        if a.image:
            track.draw_calculation(st, canvas, j, a.id)
            canvas.write_bmp(os.path.join(a.output, "10_Calculation_%04d.bmp" % j))
        measure.addone(st)
        measure.voronoi(st)
        if a.voronoi:
            measure.draw_voronoi(st, canvas)
            canvas.write_bmp(os.path.join(a.output, "12_Voronoi_%04d.bmp" % j))
        cell_lines, average_line = measure.report_frame(st, j)
        for line in cell_lines:
            cell.write(line + "\n")
        avg.write(average_line + "\n")
        st.frameLabels, st.prevFrameLabels = st.prevFrameLabels, st.frameLabels
        st.prevCellTable, st.cellTable = st.cellTable, []
        st.prevCount = st.finalCount
    avg.close()
    cell.close()


if __name__ == "__main__":
    main()
