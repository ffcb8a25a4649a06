"""Review pages of runs of many kinds, checked against the run's own files:
    check_pages.py VANTO VANTO_SYNTH WORK
Makes the runs in WORK (emptied first; the browser checks open the pages left there).
Exit 77 (skipped) when numpy, pandas, matplotlib, Pillow or tifffile is missing."""

import os
import shutil
import sys
from concurrent.futures import ThreadPoolExecutor

try:
    import matplotlib  # noqa: F401
    import numpy as np
    import pandas as pd
    import PIL  # noqa: F401
    import tifffile
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import runs as R  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def counts_match_events(data, folder, what):
    events = pd.read_csv(os.path.join(folder, "_events.csv"))
    check(data["frames"] == len(events), f"{what}: a frame of the page per row of _events.csv")
    for key in ("cells", "new", "lost", "splits", "merges"):
        check(data["counts"][key] == events[key].tolist(),
              f"{what}: {key} per frame as _events.csv: {data['counts'][key]} / {events[key].tolist()}")


def frames_are(data, expected, what):
    """The page's frame j (as shown) against expected(j)."""
    for j, (gray, _) in zip(data["shown"], data["images"]):
        check(np.array_equal(R.decode_uri(gray), expected(j)), f"{what}: frame {j} is the analysed frame")


def masks_are(data, ctc, what):
    for j, (_, labels) in zip(data["shown"], data["images"]):
        mask = tifffile.imread(os.path.join(ctc, f"mask{j - 1:03d}.tif"))
        check(labels is not None and np.array_equal(R.page_labels(labels), mask), f"{what}: labels of frame {j}")


def self_contained(text, what):
    lowered = text.lower()
    check("<link" not in lowered and "@import" not in lowered and "url(" not in lowered,
          f"{what}: no linked style sheet or font")
    for attribute in ("src=", "href="):
        for part in lowered.split(attribute)[1:]:
            value = part.lstrip("\"'")
            check(value.startswith("data:"), f"{what}: {attribute} names only data: URIs, not {value[:40]}")


def main():
    vanto, synth, work = (os.path.abspath(p) for p in sys.argv[1:4])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    runs = R.make_runs(vanto, synth, work)
    for name, (proc, _) in runs.items():
        # A series with unreadable frames finishes with status 2.
        expected = 2 if name == "unreadable" else 0
        check(proc.returncode == expected, f"{name}: the run finished ({proc.returncode}: {proc.stderr[-300:]})")

    pages = {}
    # Two pages at a time: most of a page's time is drawing its plots.
    with ThreadPoolExecutor(2) as pool:
        made = {name: pool.submit(R.report, folder, *(["--max-mb", "1"] if name in ("long", "large") else []))
                for name, (_, folder) in runs.items()}
    for name, (_, folder) in runs.items():
        proc = made[name].result()
        check(proc.returncode == 0 and "Traceback" not in proc.stderr, f"{name}: page written ({proc.stderr[-400:]})")
        print(proc.stdout.strip())
        pages[name] = R.page_data(os.path.join(folder, "report.html"))

    # An 8-bit series with tracks: frames, labels and counts are the run's own.
    data, text = pages["tracked"]
    folder = runs["tracked"][1]
    counts_match_events(data, folder, "tracked")
    frames_are(data, lambda j: R.read_png(os.path.join(work, "frames_tracked", f"frame_{j:04d}.png")), "tracked")
    masks_are(data, os.path.join(work, "ctc_tracked"), "tracked")
    self_contained(text, "tracked")
    check(data["shown"] == list(range(1, 13)) and data["factor"] == 1, "tracked: every frame at full size")
    tracks = pd.read_csv(os.path.join(folder, "_tracks.csv"))
    check(sorted(int(t) for t in data["tracks"]["rows"]) == tracks["track"].tolist(), "tracked: a row per track")
    for t in tracks.itertuples():
        check(data["spans"].get(str(t.track), [None, None])[:2] == [t.first_frame, t.last_frame],
              f"tracked: track {t.track} spans its frames")
    check("Run record" in text and "8-bit gray as stored" in text, "tracked: the run record and its mapping")
    check(text.count("<img") >= 8, "tracked: the run's plots, track plots included")

    # Frames the run could not read: as analysed, the previous frame's pixels, and the reasons.
    data, text = pages["unreadable"]
    frame = lambda j: R.read_png(os.path.join(work, "frames_unreadable", f"frame_{j:04d}.png"))  # noqa: E731
    frames_are(data, lambda j: frame({4: 3, 6: 5}.get(j, j)), "unreadable")
    check(sorted(data["unreadable"]) == ["4", "6"] and all(data["unreadable"].values()),
          f"unreadable: frames 4 and 6 with their reasons: {data['unreadable']}")
    check("frame_0006.png" in text and not data["missingHere"], "unreadable: the record's reasons are on the page")
    counts_match_events(data, runs["unreadable"][1], "unreadable")

    # No cells at all.
    data, text = pages["no_cells"]
    counts_match_events(data, runs["no_cells"][1], "no cells")
    check(not any(data["pos"]) and sum(data["counts"]["cells"]) == 0, "no cells: no centres, no cells counted")

    # Without -ctc: the frames and the option to add; no labels, counts from the report.
    data, text = pages["no_ctc"]
    check("-ctc DIR" in text, "no -ctc: the page names the option")
    check(all(labels is None for _, labels in data["images"]), "no -ctc: no label images")
    average = pd.read_csv(os.path.join(runs["no_ctc"][1], "_average.csv"), skiprows=2, header=None)
    check(data["counts"]["cells"] == average[39].tolist() and data["counts"]["new"] is None,
          "no -ctc: cells from the average report, the rest unknown")
    frames_are(data, lambda j: R.read_png(os.path.join(work, "frames_no_ctc", f"frame_{j:04d}.png")), "no -ctc")

    # 16-bit and float stacks in a window, through the run's -range: the 8-bit frames come back.
    x, y, w, h = R.STACK_WINDOW
    for name in (R.U16[0], R.F32[0]):
        data, text = pages[name]
        frames_are(data, lambda j: R.read_png(os.path.join(work, "frames_stack", f"frame_{j:04d}.png"))[
            y:y + h, x:x + w], name)
        masks_are(data, os.path.join(work, "ctc_" + name), name)
        counts_match_events(data, runs[name][1], name)
        check(f"{name}.tif [page 8]" in data["names"][-1], f"{name}: frames named by page ({data['names'][-1]})")

    # 1,000 frames under a 1 MB limit: sampled, the last frame kept, every frame counted.
    data, text = pages["long"]
    size = os.path.getsize(os.path.join(runs["long"][1], "report.html"))
    check(size <= 1_000_000, f"long: the page keeps to 1 MB ({size} bytes)")
    check(1 < len(data["shown"]) < 1000 and data["shown"][0] == 1 and data["shown"][-1] == 1000,
          f"long: frames sampled from the first to the last ({len(data['shown'])})")
    check(f"{len(data['shown'])} of 1000 frames are shown" in text, "long: the page says it is sampled")
    counts_match_events(data, runs["long"][1], "long")
    masks_are({"shown": data["shown"][:3], "images": data["images"][:3]}, os.path.join(work, "ctc_long"), "long")
    proc = R.report(runs["long"][1], "-o", os.path.join(work, "long_full.html"))
    full, _ = R.page_data(os.path.join(work, "long_full.html"))
    check(proc.returncode == 0 and full["shown"] == list(range(1, 1001)),
          "long: under the default limit every frame is shown")

    # A large window under the same limit: downscaled first, and the page says so.
    data, text = pages["large"]
    size = os.path.getsize(os.path.join(runs["large"][1], "report.html"))
    check(size <= 1_000_000 and data["factor"] > 1, f"large: downscaled by {data['factor']}, {size} bytes")
    check(f"downscaled by {data['factor']}" in text, "large: the page says it is downscaled")
    label = R.page_labels(data["images"][0][1])
    mask = tifffile.imread(os.path.join(work, "ctc_large", "mask000.tif"))
    check(np.array_equal(label, mask[::data["factor"], ::data["factor"]]), "large: labels downscaled with the frame")

    # Paths of a run moved away from where it was started: the options to find them again.
    moved = os.path.join(work, "moved")
    shutil.copytree(runs["tracked"][1], moved)
    proc = R.report(moved, "-o", os.path.join(work, "moved.html"), "--base-dir", work)
    data, _ = R.page_data(os.path.join(work, "moved.html"))
    check(proc.returncode == 0 and not data["missingHere"] and data["images"][0][1],
          "a moved run: --base-dir finds its frames and masks")

    if failures:
        print(f"{len(failures)} check(s) failed; files in {work}")
        return 1
    print("all page checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
