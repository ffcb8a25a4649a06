"""The review pages in a real browser (Debian's chromium, headless, over the DevTools protocol):
    check_browser.py VANTO VANTO_SYNTH WORK SHOTS
WORK holds the runs and pages of check_pages.py; SHOTS receives the screenshots. Also runs the
workflow on three series and follows the links of its index page.
Exit 77 (skipped) when chromium, python3-websocket or Snakemake is missing."""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402

CHROMIUM = cdp.find_chromium()
try:
    import websocket  # noqa: F401
    import numpy as np
    import pandas as pd
    import tifffile
    import snakemake  # noqa: F401
except ImportError as e:
    print(f"skipped: {e} (install python3-websocket, snakemake: scripts/install-deps.sh --test)")
    sys.exit(77)
if not CHROMIUM:
    print("skipped: no chromium on PATH (install Debian's chromium: scripts/install-deps.sh --test)")
    sys.exit(77)

import runs as R  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


DRAWN = "document.getElementById('frame').dataset.frame === '{}'"
# Pixels of the frame canvas that are not gray: the outlines (the highlight is counted apart).
COLOURED = """(() => { const c = document.getElementById('frame');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data; let n = 0, hl = 0;
  for (let i = 0; i < d.length; i += 4) {
    if (d[i] === 255 && d[i + 1] === 255 && d[i + 2] === 0) hl++;
    else if (d[i] !== d[i + 1] || d[i + 1] !== d[i + 2]) n++; }
  return [n, hl]; })()"""
COUNTS = "['cells','new','lost','splits','merges'].map(k => document.getElementById('count-' + k).textContent)"


def open_page(browser, path, shots, name):
    """Opens a page and waits for frame 1 to be drawn; checks for errors and requests."""
    browser.open(path)
    drawn = browser.wait_for(DRAWN.format(1))
    check(drawn, f"{name}: frame 1 drawn")
    problems = browser.problems("file://" + os.path.abspath(path))
    check(not problems, f"{name}: no console error and no request: {problems}")
    browser.screenshot(os.path.join(shots, name + ".png"))


def step_to(browser, key, keycode, frame):
    browser.key(key, keycode=keycode)
    return browser.wait_for(DRAWN.format(frame), timeout=10)


def tracked_page(browser, work, shots):
    folder = os.path.join(work, "tracked")
    page = os.path.join(folder, "report.html")
    open_page(browser, page, shots, "tracked")
    events = pd.read_csv(os.path.join(folder, "_events.csv"))
    mask = tifffile.imread(os.path.join(work, "ctc_tracked", "mask000.tif"))
    coloured, _ = browser.evaluate(COLOURED)
    check(coloured == int(R.outline_mask(mask).sum()) and coloured > 0,
          f"tracked: the canvas shows each outline pixel in a track colour ({coloured})")

    # The arrow keys step through every frame; the counts beside it are those of _events.csv.
    for frame in range(1, len(events) + 1):
        if frame > 1:
            check(step_to(browser, "ArrowRight", 39, frame), f"tracked: Right arrow steps to frame {frame}")
        shown = [int(v) for v in browser.evaluate(COUNTS)]
        expected = events.loc[frame - 1, ["cells", "new", "lost", "splits", "merges"]].tolist()
        check(shown == expected, f"tracked: counts of frame {frame}: {shown} / {expected}")
    check(step_to(browser, "ArrowRight", 39, len(events)), "tracked: no step past the last frame")
    check(step_to(browser, "ArrowLeft", 37, len(events) - 1), "tracked: Left arrow steps back")
    check(step_to(browser, "Home", 36, 1), "tracked: Home goes to frame 1")

    # A click inside a cell selects its track, paints its outline yellow, shows its row.
    tracks = pd.read_csv(os.path.join(folder, "_tracks.csv"))
    labels, sizes = np.unique(mask[mask > 0], return_counts=True)
    label = int(labels[np.argmax(sizes)])
    inside = (mask == label) & ~R.outline_mask(mask)
    ys, xs = np.nonzero(inside)
    pick = len(ys) // 2
    x, y = browser.evaluate(f"vantoReport.clientPoint({int(xs[pick])}, {int(ys[pick])})")
    browser.click(x, y)
    check(browser.wait_for(f"vantoReport.state().selected === {label - 1}"),
          f"tracked: a click selects track {label - 1}")
    time.sleep(0.3)
    coloured, highlighted = browser.evaluate(COLOURED)
    check(highlighted == int(R.outline_mask(mask)[mask == label].sum()),
          f"tracked: the selected cell's outline is highlighted ({highlighted} pixels)")
    panel = browser.evaluate("document.getElementById('selection').textContent")
    fate = tracks.loc[tracks.track == label - 1, "fate"].iloc[0]
    check("_tracks.csv" in panel and fate in panel and "_cell.csv" in panel,
          f"tracked: the track's _tracks.csv and _cell.csv rows are shown: {panel[:120]}")
    browser.evaluate("document.getElementById('show-ids').click() || true")
    time.sleep(0.3)
    browser.screenshot(os.path.join(shots, "tracked_selected.png"))
    problems = browser.problems("file://" + page)
    check(not problems, f"tracked: no error after stepping and clicking: {problems}")


def long_page(browser, work, shots):
    page = os.path.join(work, "long", "report.html")
    data, _ = R.page_data(page)
    open_page(browser, page, shots, "long")
    check(step_to(browser, "End", 35, 1000), "long: End goes to frame 1000")
    check(step_to(browser, "ArrowLeft", 37, data["shown"][-2]), "long: Left arrow steps to the previous sample")
    check(step_to(browser, "ArrowRight", 39, 1000), "long: Right arrow steps to the last frame")
    browser.key(" ", code="Space", keycode=32)
    check(browser.wait_for(DRAWN.format(1)), "long: Space at the last frame plays from the start")
    check(browser.wait_for(f"vantoReport.state().frame > {data['shown'][3]}", timeout=15), "long: playing steps on")
    browser.key(" ", code="Space", keycode=32)
    frame = browser.evaluate("vantoReport.state().frame")
    time.sleep(0.6)
    check(browser.evaluate("vantoReport.state().frame") == frame, "long: Space pauses")
    problems = browser.problems("file://" + page)
    check(not problems, f"long: no error while playing: {problems}")


def workflow(browser, vanto, synth, work, shots):
    """Three series through the workflow; every link of the index page opens a working page."""
    flow = os.path.join(work, "workflow")
    shutil.rmtree(flow, ignore_errors=True)
    os.makedirs(flow)
    lines = ["name\tsource\tw\th\tcount\tthreshold\tsize\tctc\textra"]
    for i, name in enumerate(("w1", "w2", "w3")):
        source = R.synth(synth, os.path.join(flow, "frames_" + name), 6, 96, 72, 6, 20 + i)
        ctc, extra = ("yes", "-tracks") if name != "w3" else ("", "")
        lines.append(f"{name}\t{source}\t96\t72\t6\t20\t56\t{ctc}\t{extra}")
    with open(os.path.join(flow, "sheet.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    proc = subprocess.run([sys.executable, "-m", "snakemake", "-s", os.path.join(R.REPO, "workflow", "Snakefile"),
                           "--cores", "2", "--config", "samples=sheet.tsv", "out=results", f"vanto={vanto}"],
                          cwd=flow, capture_output=True, text=True)
    index = os.path.join(flow, "results", "index.html")
    check(proc.returncode == 0 and os.path.isfile(index), f"workflow: index.html made ({proc.stderr[-600:]})")
    if not os.path.isfile(index):
        return
    open_page_plain(browser, index, shots, "index")
    links = browser.evaluate("[...document.querySelectorAll('a')].map(a => a.href)")
    pages = sorted(set(links))
    check(len(pages) == 3, f"workflow: the index links one page per series: {pages}")
    rows = browser.evaluate("document.querySelectorAll('table.index tr').length")
    check(rows == 4, f"workflow: a header and three rows ({rows})")
    for url in pages:
        path = url[len("file://"):]
        name = path.split("/")[-2]
        check(os.path.isfile(path), f"workflow: {url} resolves to a file")
        if os.path.isfile(path):
            open_page(browser, path, shots, "series_" + name)
            labels = browser.evaluate("JSON.parse(document.getElementById('vanto-data').textContent).images[0][1]")
            check((labels is not None) == (name != "w3"), f"workflow: {name} has outlines only with -ctc")


def open_page_plain(browser, path, shots, name):
    browser.open(path)
    problems = browser.problems("file://" + os.path.abspath(path))
    check(not problems, f"{name}: no console error and no request: {problems}")
    browser.screenshot(os.path.join(shots, name + ".png"))


def main():
    vanto, synth, work, shots = (os.path.abspath(p) for p in sys.argv[1:5])
    if not os.path.isfile(os.path.join(work, "tracked", "report.html")):
        print(f"no pages in {work}: run check_pages.py first")
        return 1
    os.makedirs(shots, exist_ok=True)
    started = time.time()
    browser = cdp.Browser(CHROMIUM)
    try:
        tracked_page(browser, work, shots)
        for name in ("unreadable", "no_cells", "no_ctc", "stack16", "stackf", "large"):
            open_page(browser, os.path.join(work, name, "report.html"), shots, name)
            if name == "unreadable":
                check(step_to(browser, "ArrowRight", 39, 2) and step_to(browser, "ArrowRight", 39, 3)
                      and step_to(browser, "ArrowRight", 39, 4), "unreadable: steps to frame 4")
                problem = browser.evaluate("document.getElementById('frame-problem').textContent")
                check("frame_0004.png" in problem, f"unreadable: frame 4 says why it was not read: {problem}")
        long_page(browser, work, shots)
        workflow(browser, vanto, synth, work, shots)
    finally:
        browser.close()
    print(f"browser checks took {time.time() - started:.0f} s; screenshots in {shots}")
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all browser checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
