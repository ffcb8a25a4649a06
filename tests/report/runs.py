"""Runs of the program for the review-page tests, kept in one folder shared by the page checks
(which make them) and the browser checks (which open their pages), and what the pages hold."""

import base64
import io
import json
import os
import re
import subprocess
import sys

import numpy as np

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
REPORT = os.path.join(REPO, "scripts", "vanto-report")
sys.path.insert(0, os.path.join(REPO, "scripts"))

# name: (frames, width, height, cells, seed, extra options); see make_runs for the odd ones.
PLAIN = {
    "tracked": (12, 160, 120, 12, 5, ["-ctc", "ctc_tracked", "-tracks"]),
    "unreadable": (8, 96, 80, 6, 3, ["-ctc", "ctc_unreadable", "-tracks"]),
    "no_ctc": (6, 96, 80, 6, 4, []),
    "no_cells": (5, 64, 48, 0, 1, ["-ctc", "ctc_no_cells", "-tracks"]),
    "long": (1000, 40, 32, 2, 9, ["-ctc", "ctc_long", "-tracks"]),
    "large": (3, 800, 640, 40, 2, ["-ctc", "ctc_large", "-tracks"]),
}
STACK_SHAPE = (8, 120, 100)  # frames, width, height of the generated 8-bit series behind the stacks
STACK_WINDOW = (8, 4, 96, 80)  # x, y, w, h analysed
# 16-bit: v -> 200 v + 1000, mapped back by -range 1000 52000 to v exactly.
U16 = ("stack16", lambda v: (v.astype(np.uint16) * 200 + 1000).astype(np.uint16), ["1000", "52000"])
# float: v -> v / 2 + 10, mapped back by -range 10 137.5 to v exactly.
F32 = ("stackf", lambda v: (v.astype(np.float32) / 2 + 10).astype(np.float32), ["10", "137.5"])


def run(command, cwd, **kw):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, **kw)


def synth(synth_exe, folder, frames, w, h, cells, seed):
    run([synth_exe, "--out", folder, "--frames", str(frames), "--width", str(w), "--height", str(h), "--cells",
         str(cells), "--seed", str(seed)], cwd=None, check=True)
    return os.path.join(os.path.basename(folder), "frame_%04d.png")


def read_png(path):
    from PIL import Image

    with Image.open(path) as image:
        return np.array(image)


def analyse(vanto, work, name, source, w, h, count, extra):
    out = os.path.join(work, name)
    os.makedirs(out, exist_ok=True)
    proc = run([vanto, "-source", source, "-w", str(w), "-h", str(h), "-count", str(count), "-threshold", "20",
                "-size", "56", "-threads", "2", *extra, "-output", name], cwd=work)
    return proc, out


def make_runs(vanto, synth_exe, work):
    """Every run of the tests, in work (relative -source, -output and -ctc, as a lab would give
    them); returns {name: (process, folder)}."""
    from PIL import Image
    import tifffile

    runs = {}
    for name, (frames, w, h, cells, seed, extra) in PLAIN.items():
        if cells == 0:
            # Flat frames: nothing to segment.
            os.makedirs(os.path.join(work, "frames_" + name), exist_ok=True)
            for j in range(1, frames + 1):
                Image.fromarray(np.full((h, w), 200, np.uint8)).save(
                    os.path.join(work, "frames_" + name, f"frame_{j:04d}.png"))
            source = f"frames_{name}/frame_%04d.png"
        else:
            source = synth(synth_exe, os.path.join(work, "frames_" + name), frames, w, h, cells, seed)
        if name == "unreadable":
            with open(os.path.join(work, "frames_" + name, "frame_0004.png"), "wb") as f:
                f.write(b"\x89PNG\r\n\x1a\n damaged")
            os.remove(os.path.join(work, "frames_" + name, "frame_0006.png"))
        runs[name] = analyse(vanto, work, name, source, w, h, frames, extra)
    frames, w, h = STACK_SHAPE
    source = synth(synth_exe, os.path.join(work, "frames_stack"), frames, w, h, 8, 6)
    eight = np.stack([read_png(os.path.join(work, source % j)) for j in range(1, frames + 1)])
    x, y, ww, wh = STACK_WINDOW
    for name, convert, bounds in (U16, F32):
        tifffile.imwrite(os.path.join(work, name + ".tif"), convert(eight))
        runs[name] = analyse(vanto, work, name, name + ".tif", ww, wh, frames,
                             ["-x", str(x), "-y", str(y), "-range", *bounds, "-ctc", "ctc_" + name, "-tracks"])
    return runs


def report(folder, *options):
    return run([sys.executable, REPORT, folder, *options], cwd=None)


def page_data(path):
    """The JSON the page's viewer reads."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    m = re.search(r"<script type=application/json id=vanto-data>(.*?)</script>", text, re.S)
    return (json.loads(m.group(1).replace("<\\/", "</")) if m else None), text


def decode_uri(uri):
    from PIL import Image

    raw = base64.b64decode(uri.split(",", 1)[1])
    with Image.open(io.BytesIO(raw)) as image:
        return np.array(image)


def page_labels(uri):
    rgb = decode_uri(uri).astype(np.uint16)
    return rgb[:, :, 0] | (rgb[:, :, 1] << 8)


def outline_mask(labels):
    padded = np.pad(labels, 1, constant_values=0)
    centre = padded[1:-1, 1:-1]
    differs = ((padded[:-2, 1:-1] != centre) | (padded[2:, 1:-1] != centre)
               | (padded[1:-1, :-2] != centre) | (padded[1:-1, 2:] != centre))
    return (centre != 0) & differs
