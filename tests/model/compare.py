"""Runs the analyser and the independent model on one series and compares every output file:
both reports field by field (except the time column) and every bitmap byte by byte.

  compare.py VANTO SOURCE W H COUNT THRESHOLD SIZE [image] [id] [voronoi]
"""
import os
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))


def compare(vanto, source, w, h, count, threshold, size, switches, show=12):
    """Returns the number of differing lines and files; prints the first few."""
    out_c = tempfile.mkdtemp(prefix="vanto-")
    out_p = tempfile.mkdtemp(prefix="model-")
    try:
        args = ["-source", source, "-w", str(w), "-h", str(h), "-count", str(count), "-threshold", str(threshold),
                "-size", str(size)]
        subprocess.run([vanto] + args + ["-output", out_c] + ["-" + s for s in switches], check=True,
                       stdout=subprocess.DEVNULL)
        model_args = ["-" + a if i % 2 == 0 else a for i, a in enumerate(args)]
        subprocess.run([sys.executable, os.path.join(here, "run_model.py")] + model_args + ["--output", out_p] +
                       ["--" + s for s in switches], check=True, stdout=subprocess.DEVNULL)
        bad = 0
        for name in ("_cell.csv", "_average.csv"):
            a = open(os.path.join(out_c, name)).read().splitlines()
            b = open(os.path.join(out_p, name)).read().splitlines()
            if len(a) != len(b):
                print(f"{name}: {len(a)} lines, model {len(b)}")
                bad += 1
            for i, (la, lb) in enumerate(zip(a, b)):
                fa, fb = la.split(","), lb.split(",")
                if name == "_average.csv" and i >= 2:
                    fa[1] = fb[1] = ""
                if fa != fb:
                    bad += 1
                    if bad <= show:
                        diff = [(k + 1, x, y) for k, (x, y) in enumerate(zip(fa, fb)) if x != y]
                        print(f"{name} line {i + 1}: (column, vanto, model) {diff[:6]}, {len(fa)} vs {len(fb)} fields")
        for f in sorted(f for f in os.listdir(out_p) if f.endswith(".bmp")):
            path_c = os.path.join(out_c, f)
            a = open(path_c, "rb").read() if os.path.exists(path_c) else b""
            b = open(os.path.join(out_p, f), "rb").read()
            if a != b:
                bad += 1
                if bad <= show:
                    print(f"{f}: differs ({len(a)} and {len(b)} bytes)")
        return bad
    finally:
        shutil.rmtree(out_c, ignore_errors=True)
        shutil.rmtree(out_p, ignore_errors=True)


def main():
    vanto, source, w, h, count, threshold, size = sys.argv[1:8]
    bad = compare(vanto, source, w, h, count, threshold, size, sys.argv[8:])
    print("MATCH" if bad == 0 else f"DIFFERENCES: {bad}")
    return 0 if bad == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
