#!/usr/bin/python3
"""scripts/vanto-plot on real runs: the 10-frame C2C12 series and a generated series of about
100 tracks. Every PNG is valid and drawn without a warning; the figures are checked before
they are saved (frame ticks, diffusion windows, units, the lineage's labels and pages, the
intensity plots); --help and a closed pipe on the command line.
Arguments: the vanto and vanto_synth programs and the shared data folder. Exit 77 (skipped)
when pandas or matplotlib is missing."""

import importlib.machinery
import importlib.util
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import warnings

try:
    import matplotlib  # noqa: F401
    import pandas as pd
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

HERE = os.path.dirname(os.path.realpath(__file__))
PLOT = os.path.join(HERE, "..", "..", "scripts", "vanto-plot")
VANTO, SYNTH, DATA = (os.path.abspath(p) for p in sys.argv[1:4])
del sys.argv[1:4]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

loader = importlib.machinery.SourceFileLoader("vanto_plot", PLOT)
plot_loading = importlib.util.spec_from_loader("vanto_plot", loader)
vp = importlib.util.module_from_spec(plot_loading)
loader.exec_module(vp)


class Capture(vp.Plotter):
    """Keeps what each figure shows before it is saved and closed."""

    def __init__(self, out_dir):
        super().__init__(out_dir)
        self.figures = {}

    def save(self, fig, name):
        axes = [ax for ax in fig.axes if ax.get_label() != "<colorbar>"]
        self.figures[name] = [{
            "xlabel": ax.get_xlabel(), "ylabel": ax.get_ylabel(), "title": ax.get_title(),
            "xticks": [t for t in ax.get_xticks() if ax.get_xlim()[0] <= t <= ax.get_xlim()[1]],
            "lines": [l.get_label() for l in ax.get_lines() if not l.get_label().startswith("_")],
            "texts": [t.get_text() for t in ax.texts],
            "legend": [t.get_text() for t in ax.get_legend().get_texts()] if ax.get_legend() else [],
            "bars": [(r.get_x(), r.get_width()) for r in ax.patches],
            "projection": ax.name,
        } for ax in axes]
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            super().save(fig, name)


def analyse(out, words):
    os.makedirs(out, exist_ok=True)
    proc = subprocess.run([VANTO, *words, "-output", out, "-tracks"], capture_output=True, text=True)
    assert proc.returncode == 0, proc.stderr
    return out


def plot(folder, units=None):
    p = Capture(tempfile.mkdtemp(prefix="vanto_plots_", dir=WORK))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        vp.plot_run(folder, p, units)
    return p


def valid_png(path):
    with open(path, "rb") as f:
        data = f.read()
    return data.startswith(PNG_SIGNATURE) and data[12:16] == b"IHDR" and data.endswith(b"IEND\xaeB`\x82")


def c2c12_words(*more):
    source = os.path.join(DATA, "c2c12-phase", "c2c12_%04d.png")
    return ["-source", source, "-w", "234", "-h", "234", "-count", "10", "-threshold", "12", "-size", "15", *more]


def expect_lineage_pages(test, p, tracks):
    """LINEAGE_ROWS tracks a page, each page says which, and every track has one bar and one
    label."""
    n = len(tracks)
    pages = math.ceil(n / vp.LINEAGE_ROWS)
    names = ["lineage.png"] + [f"lineage_{k}.png" for k in range(2, pages + 1)]
    labels = []
    for k, name in enumerate(names, 1):
        ax = p.figures[name][0]
        if pages > 1:
            test.assertIn(f"page {k} of {pages}", ax["title"])
            test.assertIn(f"of {n} in order of descent", ax["title"])
        else:
            test.assertNotIn("page", ax["title"])
        # A track joined across gaps is labelled "9+52".
        page_labels = [int(t.split("+")[0]) for t in ax["texts"] if t.split("+")[0].isdigit()]
        test.assertEqual(len(ax["bars"]), len(page_labels), name)
        test.assertLessEqual(len(page_labels), vp.LINEAGE_ROWS)
        labels += page_labels
        test.assertTrue(valid_png(os.path.join(p.out_dir, name)))
    test.assertEqual(sorted(labels), sorted(tracks["track"]))
    test.assertNotIn(f"lineage_{pages + 1}.png", p.figures)


class TenFrames(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = analyse(os.path.join(WORK, "c2c12"), c2c12_words())
        cls.tracks = pd.read_csv(os.path.join(cls.folder, "_tracks.csv"))
        cls.p = plot(cls.folder)

    def test_every_plot_is_a_valid_png(self):
        names = sorted(os.path.basename(f) for f in self.p.written)
        pages = math.ceil(len(self.tracks) / vp.LINEAGE_ROWS)
        self.assertEqual(names, sorted(["cells_per_frame.png", "step_length.png", "voronoi_area.png",
                                        "size_circularity.png", "directions_rose.png", "diffusion.png",
                                        "track_lengths.png", "lineage.png"]
                                       + [f"lineage_{k}.png" for k in range(2, pages + 1)]))
        for path in self.p.written:
            self.assertTrue(valid_png(path), path)
        self.assertEqual([n for n, _ in self.p.skipped], ["intensity_over_time.png, intensity_histogram.png"])

    def test_frame_axes_have_whole_frame_ticks(self):
        for name in ("cells_per_frame.png", "step_length.png", "voronoi_area.png", "diffusion.png", "lineage.png"):
            ax = self.p.figures[name][0]
            self.assertEqual(ax["xlabel"], "frame", name)
            self.assertTrue(ax["xticks"], name)
            for tick in ax["xticks"]:
                self.assertEqual(tick, round(tick), f"{name}: tick {tick}")
        lengths = self.p.figures["track_lengths.png"][0]
        for tick in lengths["xticks"]:
            self.assertEqual(tick, round(tick), f"track lengths: tick {tick}")

    def test_no_diffusion_curve_for_windows_longer_than_the_run(self):
        ax = self.p.figures["diffusion.png"][0]
        self.assertEqual(ax["lines"], [])
        self.assertTrue(any("15, 30 and 45 frames" in t and "10 frames" in t for t in ax["texts"]), ax["texts"])

    def test_lineage_labels_every_track_and_tells_splits_from_merges(self):
        expect_lineage_pages(self, self.p, self.tracks)
        ax = self.p.figures["lineage.png"][0]
        # One-frame tracks are bars of most of a frame, not points.
        self.assertTrue((self.tracks["frames"] == 1).any())
        for _, width in ax["bars"]:
            self.assertGreaterEqual(width, 0.8 - 1e-9)
        self.assertEqual(ax["legend"], ["split: parent to each child", "merge: each parent to the new cell", "lost"])

    def test_units_from_the_run_record_reach_every_axis(self):
        folder = analyse(os.path.join(WORK, "c2c12_units"), c2c12_words("-frame-interval", "5", "-pixel-size", "0.5"))
        p = plot(folder)
        for name in ("cells_per_frame.png", "step_length.png", "voronoi_area.png", "diffusion.png", "lineage.png"):
            self.assertEqual(p.figures[name][0]["xlabel"], "time (min)", name)
        self.assertEqual(p.figures["step_length.png"][0]["ylabel"], "mean step (µm / min)")
        self.assertEqual(p.figures["voronoi_area.png"][0]["ylabel"], "Voronoi area (µm²)")
        self.assertEqual(p.figures["size_circularity.png"][0]["xlabel"], "size (µm²)")
        # Given on the command line, they win over the record.
        p = plot(folder, vp.Units.of_run(folder, None, 2.0))
        self.assertEqual(p.figures["step_length.png"][0]["ylabel"], "mean step (µm / min)")
        p = plot(self.folder, vp.Units.of_run(self.folder, 10.0, None))
        self.assertEqual(p.figures["step_length.png"][0]["ylabel"], "mean step (pixels / min)")
        self.assertEqual(p.figures["diffusion.png"][0]["xlabel"], "time (min)")

    def test_intensity_plots_when_the_objects_table_exists(self):
        folder = analyse(os.path.join(WORK, "c2c12_objects"), c2c12_words() + ["-objects", "-frame-interval", "3"])
        objects = pd.read_csv(os.path.join(folder, "_objects.csv"))
        self.assertTrue({"frame", "time_min", "track", "mean_intensity"} <= set(objects.columns))
        p = plot(folder)
        self.assertEqual(p.skipped, [])
        over_time = p.figures["intensity_over_time.png"][0]
        self.assertEqual(over_time["xlabel"], "time (min)")
        self.assertEqual(over_time["ylabel"], "mean intensity (source units)")
        self.assertTrue(any(label.startswith("mean over the cells") for label in over_time["lines"]))
        histogram = p.figures["intensity_histogram.png"][0]
        self.assertGreater(len(histogram["bars"]), 0)
        for name in ("intensity_over_time.png", "intensity_histogram.png"):
            self.assertTrue(valid_png(os.path.join(p.out_dir, name)))
        # A table left in the folder by another run is not this run's: it is not plotted.
        stale = os.path.join(WORK, "c2c12_stale_objects")
        shutil.copytree(self.folder, stale)
        shutil.copy(os.path.join(folder, "_objects.csv"), stale)
        self.assertIn("intensity_over_time.png, intensity_histogram.png", [name for name, _ in plot(stale).skipped])

    def test_a_closed_pipe_is_no_error(self):
        folder = os.path.join(WORK, "c2c12_pipe")
        shutil.copytree(self.folder, folder)
        shutil.rmtree(os.path.join(folder, "plots"), ignore_errors=True)
        # The reader takes nothing and goes away, as `| head -0` does.
        reader, writer = os.pipe()
        os.close(reader)
        proc = subprocess.run([PLOT, folder], stdout=writer, stderr=subprocess.PIPE, text=True)
        os.close(writer)
        self.assertEqual(proc.stderr, "")
        self.assertEqual(proc.returncode, 0)
        self.assertTrue(valid_png(os.path.join(folder, "plots", "lineage.png")))


class HundredTracks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        frames = os.path.join(WORK, "synth")
        proc = subprocess.run([SYNTH, "--out", frames, "--frames", "30", "--width", "400", "--height", "300",
                               "--cells", "120", "--seed", "4"], capture_output=True, text=True, check=True)
        words = proc.stdout.split()
        words = words[words.index("-source"):] if "-source" in words else words
        cls.folder = analyse(os.path.join(WORK, "synth_run"), words)
        cls.tracks = pd.read_csv(os.path.join(cls.folder, "_tracks.csv"))
        cls.p = plot(cls.folder)

    def test_the_lineage_is_paged_and_every_track_is_labelled_once(self):
        self.assertGreaterEqual(len(self.tracks), 80)
        expect_lineage_pages(self, self.p, self.tracks)
        for path in self.p.written:
            self.assertTrue(valid_png(path), path)

    def test_diffusion_draws_only_the_window_the_run_covers(self):
        ax = self.p.figures["diffusion.png"][0]
        self.assertEqual(ax["lines"], ["over 15 frames"])
        self.assertTrue(any("30 and 45" in t and "30 frames" in t for t in ax["texts"]), ax["texts"])


class CommandLine(unittest.TestCase):
    def test_help_is_whole(self):
        proc = subprocess.run([PLOT, "--help"], capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0)
        self.assertIn("--frame-interval MIN", proc.stdout)
        self.assertIn("lineage_2.png", proc.stdout)
        self.assertTrue(proc.stdout.rstrip().endswith("then each plot skipped."), proc.stdout[-200:])
        self.assertEqual(proc.stderr, "")


if __name__ == "__main__":
    WORK = tempfile.mkdtemp(prefix="vanto_plot_test_")
    try:
        unittest.main(verbosity=2)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
