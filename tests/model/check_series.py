"""Generates small synthetic series and checks that the analyser's outputs equal the model's.

  check_series.py VANTO VANTO_SYNTH [SHARED_DATA]

With the folder of the shared real series, the phase-contrast series is checked too.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from compare import compare  # noqa: E402

# width, height, cells, seed, frames, threshold, small-cell area, bitmap switches
SERIES = [
    (96, 72, 5, 3, 56, 20, 30, ["image", "id", "voronoi"]),
    (128, 96, 20, 7, 14, 10, 0, ["image", "voronoi"]),
    (160, 120, 12, 5, 8, 25, 56, ["image", "id"]),
]


def main():
    vanto, synth = sys.argv[1:3]
    failures = 0
    for w, h, cells, seed, frames, threshold, size, switches in SERIES:
        folder = tempfile.mkdtemp(prefix="series-")
        try:
            subprocess.run([synth, "--out", folder, "--frames", str(frames), "--width", str(w), "--height", str(h),
                            "--cells", str(cells), "--seed", str(seed), "--prefix", "s"], check=True,
                           stdout=subprocess.DEVNULL)
            bad = compare(vanto, os.path.join(folder, "s_%04d.png"), w, h, frames, threshold, size, switches)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        print(f"{w} x {h}, {cells} cells, seed {seed}, {frames} frames: " + ("match" if bad == 0 else f"{bad} differ"))
        failures += bad != 0
    checked = len(SERIES)
    if len(sys.argv) > 3 and os.path.isdir(os.path.join(sys.argv[3], "c2c12-phase")):
        source = os.path.join(sys.argv[3], "c2c12-phase", "c2c12_%04d.png")
        bad = compare(vanto, source, 234, 234, 10, 12, 15, ["image", "id", "voronoi"])
        print("c2c12-phase, 10 frames: " + ("match" if bad == 0 else f"{bad} differ"))
        failures += bad != 0
        checked += 1
    print(f"{checked - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
