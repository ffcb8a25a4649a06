#!/usr/bin/python3
"""scripts/vanto-tune on a small drawn series whose labels are known by construction: three dark
discs (140 gray levels deep) moving on a bright ground, and a faint 2 x 2 speck (40 deep) that is
no cell. Usage: check_tune.py VANTO"""

import argparse
import csv
import importlib.machinery
import importlib.util
import io
import json
import os
import shlex
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

try:
    import matplotlib  # noqa: F401
    import numpy as np
    import tifffile  # noqa: F401
    from PIL import Image
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

HERE = os.path.dirname(os.path.realpath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
TUNE = os.path.join(SCRIPTS, "vanto-tune")
VANTO = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "build", "vanto")


def load(name, file):
    loader = importlib.machinery.SourceFileLoader(name, os.path.join(SCRIPTS, file))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


vs = load("vanto_score", "vanto-score")
vt = load("vanto_tune", "vanto-tune")
var = load("vanto_area_ratio", "vanto-area-ratio")

W, H = 84, 60
GROUND, CELL, SPECK = 200, 60, 160
# Disc centres (x, y) per frame, radius 6, far enough apart that the program's outlines (which
# take in a rim around each disc) do not touch.
CENTRES = [[(14, 14), (54, 14), (32, 42)], [(16, 15), (56, 15), (34, 43)], [(18, 16), (58, 16), (36, 44)]]


def draw(folder):
    """Frames f_000N.png and labels l_000N.png; a disc is the pixels within 6 of its centre
    (label k + 1 for the k-th disc), the speck 2 x 2 pixels at (70, 48) and unlabelled."""
    yy, xx = np.mgrid[0:H, 0:W]
    for t, centres in enumerate(CENTRES, 1):
        frame = np.full((H, W), GROUND, np.uint8)
        labels = np.zeros((H, W), np.uint8)
        for k, (cx, cy) in enumerate(centres):
            inside = (xx - cx) ** 2 + (yy - cy) ** 2 <= 36
            frame[inside] = CELL
            labels[inside] = k + 1
        frame[48:50, 70:72] = SPECK
        Image.fromarray(frame).save(os.path.join(folder, f"f_{t:04d}.png"))
        Image.fromarray(labels).save(os.path.join(folder, f"l_{t:04d}.png"))


def series_words(folder):
    return ["-source", os.path.join(folder, "f_%04d.png"), "-w", str(W), "-h", str(H)]


def run_vanto(words, folder, label_first=1):
    """Runs the program with words into folder/out and folder/ctc; the scorer's measures
    against the drawn labels."""
    out, ctc = os.path.join(folder, "out"), os.path.join(folder, "ctc")
    os.makedirs(out)
    subprocess.run(words + ["-output", out, "-ctc", ctc], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    text = io.StringIO()
    with redirect_stdout(text):
        status = vs.main([ctc, "--labels", os.path.join(os.path.dirname(folder), "l_%04d.png"),
                          "--first", str(label_first), "--json"])
    assert status == 0
    return json.loads(text.getvalue())


def tune(*words):
    return subprocess.run([sys.executable, TUNE, "--vanto", VANTO, *words], capture_output=True, text=True)


def rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


class Tuning(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.d = cls.tmp.name
        draw(cls.d)
        cls.out = os.path.join(cls.d, "tune")
        cls.done = tune(*series_words(cls.d), "-count", "3", "--labels", os.path.join(cls.d, "l_%04d.png"),
                        "--frames", "1-3", "--sweep", "threshold", "--thresholds", "10,30",
                        "--budget", "60", "--cores", "4", "--out", cls.out)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_search_finds_a_setting_as_good_as_a_known_good_one(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        # Threshold 50 lies between the speck's depth (40) and the discs' (140): every disc found,
        # no false positive. It is not on the coarse grid.
        known = run_vanto([VANTO, *series_words(self.d), "-count", "3", "-threshold", "50", "-size", "15"],
                          os.path.join(self.d, "known"))
        self.assertEqual((known["errors"]["false_positive"], known["recall"]), (0, 1.0))
        table = rows(os.path.join(self.out, "tune.csv"))
        best = max(float(r["objective"]) for r in table if r["status"] == "ok")
        self.assertGreaterEqual(best + 1e-9, (known["SEG"] + known["F1"]) / 2)

    def test_the_table_has_one_row_per_setting_with_every_score(self):
        table = rows(os.path.join(self.out, "tune.csv"))
        for column in ("threshold", "size", "SEG", "DET", "TRA", "precision", "recall", "F1",
                       "errors_missed", "errors_split", "errors_merged", "errors_false_positive", "area_ratio"):
            self.assertIn(column, table[0])
        with open(os.path.join(self.out, "tune.csv"), newline="") as f:
            header = next(csv.reader(f))
        self.assertEqual(len(header), len(set(header)), "every column has a name of its own")
        self.assertNotIn("grow", table[0])  # not searched
        settings = [(r["threshold"], r["size"]) for r in table]
        self.assertEqual(len(settings), len(set(settings)))
        self.assertIn(f"({len(table)} settings)", self.done.stdout)
        coarse = sorted(r["threshold"] for r in table if r["stage"] == "coarse")
        self.assertEqual(coarse, ["10", "30"])
        self.assertTrue(any(r["stage"] == "refine" for r in table))
        # At threshold 30 without an area floor the speck is the one false positive of each of
        # the three frames; the discs are found whole.
        r30 = next(r for r in table if r["threshold"] == "30")
        self.assertEqual((r30["errors_false_positive"], r30["errors_missed"], r30["predicted_objects"]), ("3", "0", "12"))
        self.assertAlmostEqual(float(r30["precision"]), 0.75, places=4)

    def test_the_printed_command_runs_and_reproduces_the_best_score(self):
        last = self.done.stdout.strip().splitlines()[-1]
        words = shlex.split(last)
        self.assertEqual(words[0], VANTO)
        i, j = words.index("-output"), words.index("-ctc")
        self.assertEqual((words[i + 1], words[j + 1]), ("results", "results/ctc"))
        again = run_vanto(words[:i] + words[i + 2:j] + words[j + 2:], os.path.join(self.d, "again"))
        best = max(rows(os.path.join(self.out, "tune.csv")), key=lambda r: float(r["objective"] or -1))
        for m in ("SEG", "F1", "TRA", "precision", "recall"):
            self.assertAlmostEqual(again[m], float(best[m]), places=4, msg=m)

    def test_the_contact_sheet_is_a_picture(self):
        with Image.open(os.path.join(self.out, "tune.png")) as im:
            self.assertGreater(min(im.size), 200)


class Truth(unittest.TestCase):
    def test_a_ctc_ground_truth_folder_scores_the_frames_it_names(self):
        # The drawn labels as a CTC folder (man_segT.tif for T = 0, 1, 2), tuned on frames 2-3:
        # the run must start at frame 2 and its masks meet man_seg001 and man_seg002.
        import tifffile

        with tempfile.TemporaryDirectory() as d:
            draw(d)
            for sub in ("SEG", "TRA"):
                os.makedirs(os.path.join(d, "gt", sub))
            for t in range(3):
                labels = np.asarray(Image.open(os.path.join(d, f"l_{t + 1:04d}.png"))).astype(np.uint16)
                tifffile.imwrite(os.path.join(d, "gt", "SEG", f"man_seg{t:03d}.tif"), labels)
                tifffile.imwrite(os.path.join(d, "gt", "TRA", f"man_track{t:03d}.tif"), labels)
            with open(os.path.join(d, "gt", "TRA", "man_track.txt"), "w") as f:
                f.write("1 0 2 0\n2 0 2 0\n3 0 2 0\n")
            done = tune(*series_words(d), "-count", "3", "--truth", os.path.join(d, "gt"), "--frames", "2-3",
                        "--sweep", "threshold", "--thresholds", "30", "--budget", "1", "--out", d)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("tuning on frames 2-3", done.stdout)
            row = rows(os.path.join(d, "tune.csv"))[0]
            direct = run_vanto([VANTO, *series_words(d), "-first", "2", "-count", "2", "-threshold", "30",
                                "-size", "15"], os.path.join(d, "direct"), label_first=2)
            self.assertEqual(row["reference_objects"], "6")
            for m in ("SEG", "F1", "precision", "recall"):
                self.assertAlmostEqual(float(row[m]), direct[m], places=4, msg=m)


class Preview(unittest.TestCase):
    def test_without_labels_the_threshold_ladder_is_shown(self):
        with tempfile.TemporaryDirectory() as d:
            draw(d)
            done = tune(*series_words(d), "--thresholds", "30,100,150", "--cores", "3", "--out", d)
            self.assertEqual(done.returncode, 0, done.stderr)
            table = rows(os.path.join(d, "tune.csv"))
            # Frame 1: three discs 140 deep and the speck 80 deep; the discs only from 100 on;
            # nothing at 150.
            self.assertEqual([(r["threshold"], r["objects"]) for r in table], [("30", "4"), ("100", "3"), ("150", "0")])
            with Image.open(os.path.join(d, "tune.png")) as im:
                self.assertGreater(min(im.size), 200)

    def test_a_closed_pipe_is_quiet(self):
        with tempfile.TemporaryDirectory() as d:
            draw(d)
            p = subprocess.Popen([sys.executable, TUNE, "--vanto", VANTO, *series_words(d), "--thresholds", "30",
                                  "--out", d], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            p.stdout.close()
            err = p.stderr.read().decode()
            p.stderr.close()
            self.assertEqual(p.wait(), 0)
            self.assertEqual(err, "")
            self.assertTrue(os.path.isfile(os.path.join(d, "tune.png")))


def fake_program(folder, text):
    """An executable shell script standing in for the program."""
    path = os.path.join(folder, "fake")
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + text)
    os.chmod(path, 0o755)
    return path


class Failures(unittest.TestCase):
    def test_failed_runs_are_rows_with_the_programs_message(self):
        with tempfile.TemporaryDirectory() as d:
            draw(d)
            fake = fake_program(d, 'echo "vanto: cannot open the frames" >&2\nexit 1\n')
            done = subprocess.run([sys.executable, TUNE, "--vanto", fake, *series_words(d), "-count", "3",
                                   "--labels", os.path.join(d, "l_%04d.png"), "--sweep", "threshold",
                                   "--thresholds", "10,30", "--out", d], capture_output=True, text=True)
            self.assertEqual(done.returncode, 1)
            self.assertIn("no setting could be scored", done.stderr)
            table = rows(os.path.join(d, "tune.csv"))
            self.assertEqual([(r["threshold"], r["status"], r["SEG"]) for r in table],
                             [("10", "status 1: vanto: cannot open the frames", ""),
                              ("30", "status 1: vanto: cannot open the frames", "")])

    def test_the_usage_text_says_whether_the_program_can_split(self):
        with tempfile.TemporaryDirectory() as d:
            with_split = fake_program(d, 'echo "  -split          H        divide touching cells"\n')
            self.assertTrue(vt.accepts(with_split, "split"))
            os.rename(with_split, os.path.join(d, "old"))
            without = fake_program(d, 'echo "  -splitting      N        other"\necho "  -grow  K"\n')
            self.assertFalse(vt.accepts(without, "split"))
            self.assertFalse(vt.accepts(os.path.join(d, "missing"), "split"))


class FakeRunner:
    """A runner whose scores come from a function of the setting; each setting runs once."""

    def __init__(self, score):
        self.score = score
        self.order = []

    def run(self, settings, stage, deadline):
        for s in settings:
            if any(r["setting"].key() == s.key() for r in self.order):
                continue
            self.order.append({"setting": s, "result": {"SEG": self.score(s.values)}, "stage": stage})

    def ranked(self):
        return sorted(self.order, key=lambda r: (-r["result"]["SEG"], r["setting"].label()))


class Parts(unittest.TestCase):
    def test_outlines_are_the_pixels_beside_another_value(self):
        plane = np.zeros((5, 7), np.uint16)
        plane[1:4, 1:4] = 1
        plane[1:4, 4:6] = 2  # touches cell 1
        edge = vt.outline(plane)
        self.assertFalse(edge[2, 2])  # the centre of cell 1
        self.assertEqual(int(edge[plane == 1].sum()), 8)  # all of cell 1 but its centre
        self.assertEqual(int(edge[plane == 2].sum()), 6)  # two columns wide: all of cell 2
        self.assertFalse(edge[plane == 0].any())

    def test_panel_titles_keep_each_option_with_its_value(self):
        words = ["-threshold", "8", "-size", "15", "-smooth", "0.75", "-grow", "-5", "-min-area", "10"]
        text = vt.wrapped(words, 24)
        self.assertEqual(text.split("\n"), ["-threshold 8 -size 15", "-smooth 0.75 -grow -5", "-min-area 10"])

    def test_equal_scores_go_to_the_fewest_changes(self):
        base = {"size": 15}
        self.assertEqual(vt.Setting({"threshold": 8, "size": 15, "grow": 0, "smooth": 0}).changes(base), 0)
        self.assertEqual(vt.Setting({"threshold": 8, "size": 1, "grow": -5, "smooth": 0}).changes(base), 2)

    def test_a_tie_on_the_objective_goes_to_the_better_other_scores_then_fewer_changes(self):
        # Three settings equal on SEG: debris left in (low F1), debris dropped by one more
        # option, and the same scores reached with two more options.
        debris = {"SEG": 0.857, "F1": 0.92, "TRA": 0.89}
        clean = {"SEG": 0.857, "F1": 0.99, "TRA": 0.90}
        keys = {"debris": vt.rank_key(debris, "SEG", 0, "a"),
                "clean": vt.rank_key(clean, "SEG", 1, "b"),
                "clean, more options": vt.rank_key(dict(clean), "SEG", 3, "c"),
                "better SEG": vt.rank_key({"SEG": 0.86, "F1": 0.5, "TRA": 0.5}, "SEG", 4, "d"),
                "failed": vt.rank_key(None, "SEG", 0, "e")}
        order = sorted(keys, key=keys.get)
        self.assertEqual(order, ["better SEG", "clean", "clean, more options", "debris", "failed"])

    def test_reference_from_the_frame_keeps_groups_of_the_least_size_or_more(self):
        view = np.full((10, 12), 100, np.int16)
        view[1:3, 1:4] = 80  # 6 pixels, 20 below the median: kept
        view[5, 5] = view[6, 6] = view[7, 7] = view[8, 8] = view[9, 9] = 85  # 5 on a diagonal
        view[1, 9:11] = 50  # 2 pixels: dropped
        view[4, 10] = 95  # 5 below: not deep enough for offset 10
        labels = vt.offset_labels(view, 10, min_pixels=5)
        self.assertEqual(sorted(vs.areas(labels).values()), [5, 6])
        self.assertEqual(labels[1, 9], 0)

    def test_area_ratio_of_each_mask_to_the_part_it_covers_most(self):
        mask = np.zeros((6, 10), np.uint16)
        mask[0:4, 0:4] = 1  # 16 pixels over part 1 (4 pixels) and 2 pixels of part 2
        mask[5, 8:10] = 2  # 2 pixels over no part
        part = np.zeros((6, 10), np.int32)
        part[1:3, 1:3] = 1
        part[0:2, 3:5] = 2  # 4 pixels, 2 of them under mask 1
        ma, pa, per = var.ratios({0: mask}, {0: part})
        self.assertEqual((sorted(ma), sorted(pa)), ([2, 16], [4, 4]))
        self.assertEqual(per, [16 / 4])

    def test_neighbours_move_one_option_along_its_ladder(self):
        s = vt.Setting({"threshold": 12, "size": 15, "grow": 0})
        ladders = {"threshold": [8, 10, 12, 14, 16], "grow": [-1, 0, 1]}
        got = sorted(tuple(sorted(n.values.items())) for n in vt.neighbours(s, ["threshold", "grow"], ladders, 2))
        self.assertEqual(got, [(("grow", 0), ("size", 15), ("threshold", 8)),
                               (("grow", 0), ("size", 15), ("threshold", 16))])
        self.assertEqual(vt.Setting({"threshold": 12, "size": 15, "smooth": 0.5, "grow": -1}).words(),
                         ["-threshold", "12", "-size", "15", "-smooth", "0.5", "-grow", "-1"])

    def test_flags_are_bare_words_and_lone_bright_cells_need_the_halves_joined(self):
        on = vt.Setting({"threshold": 12, "size": 15, "halo": 20, "halo-cells": 30, "keep-divisions": 1})
        self.assertEqual(on.words(), ["-threshold", "12", "-size", "15", "-halo", "20", "-halo-cells", "30",
                                      "-keep-divisions"])
        # Without -halo the program refuses -halo-cells: such a setting is the one without it.
        alone = vt.Setting({"threshold": 12, "size": 15, "halo": 0, "halo-cells": 30, "keep-divisions": 0})
        self.assertEqual(alone.words(), ["-threshold", "12", "-size", "15"])
        self.assertEqual(alone.key(), vt.Setting({"threshold": 12, "size": 15, "halo": 0, "halo-cells": 0,
                                                  "keep-divisions": 0}).key())
        moved = vt.neighbours(alone, ["halo"], vt.LADDERS, 1)
        self.assertEqual([m.words() for m in moved], [["-threshold", "12", "-size", "15", "-halo", "10"]])

    def test_pairs_move_two_options_one_place_each(self):
        s = vt.Setting({"threshold": 12, "size": 15, "grow": -3, "split": 0})
        ladders = {"threshold": [8, 12, 16], "grow": [-4, -3, -2], "split": [0, 1, 2], "size": [15]}
        got = {tuple(sorted(n.values.items())) for n in vt.pair_neighbours(s, ["threshold", "grow", "split", "size"],
                                                                           ladders)}
        # threshold and grow move either way, split only up, size not at all: 2 x 2 + 2 x 1 + 2 x 1 pairs.
        self.assertEqual(len(got), 8)
        # The pair the one-option refinement missed: split on together with a different shrink.
        self.assertIn((("grow", -4), ("size", 15), ("split", 1), ("threshold", 12)), got)
        self.assertIn((("grow", -3), ("size", 15), ("split", 1), ("threshold", 16)), got)
        for values in got:
            moved = [k for k, v in values if v != s.values[k]]
            self.assertEqual(len(moved), 2, values)
        # A value between ladder places snaps to the nearest place first.
        between = vt.pair_neighbours(vt.Setting({"threshold": 13, "grow": 0}), ["threshold", "grow"],
                                     {"threshold": [8, 12, 16], "grow": [-1, 0, 1]})
        self.assertEqual({n.values["threshold"] for n in between}, {8, 16})

    def test_the_search_finds_a_setting_that_only_a_pair_reaches(self):
        # Scores: any change of -grow or -split alone is worse than neither; -grow 1 with
        # -split 1 is far better. One option at a time never gets there.
        def score(v):
            if (v["grow"], v["split"]) == (1, 1):
                return 0.9
            if v["grow"] != 0 or v["split"] != 0:
                return 0.4
            return 0.5 + (0.01 if v["threshold"] == 12 else 0)

        args = argparse.Namespace(budget=60, thresholds=[8, 12, 16], cores=1, objective="SEG")
        ladders = {"threshold": [4, 8, 12, 16, 20], "grow": [-2, -1, 0, 1, 2], "split": [0, 1, 2]}
        runner = FakeRunner(score)
        vt.search(runner, ["threshold", "grow", "split"], {"grow": 0, "split": 0}, args, ladders, lambda line: None)
        best = runner.ranked()[0]
        self.assertEqual((best["setting"].values, best["stage"]), ({"threshold": 12, "grow": 1, "split": 1}, "pairs"))
        # The first setting above the plateau came from the pair step (single moves follow it).
        first = next(r for r in runner.order if r["result"]["SEG"] > 0.51)
        self.assertEqual(first["stage"], "pairs")

    def test_finer_steps_reach_a_peak_between_ladder_places(self):
        # SEG peaks at -split 0.65 and -edge-cut 0.56, between the places of their ladders;
        # -threshold and -grow only count in whole steps and are never given fractions.
        def score(v):
            return 0.9 - abs(v["split"] - 0.65) - abs(v["edge-cut"] - 0.56) - abs(v["threshold"] - 12) / 100

        args = argparse.Namespace(budget=60, thresholds=[8, 12, 16], cores=1, objective="SEG")
        ladders = {"threshold": [8, 12, 16], "grow": [-1, 0, 1], "edge-cut": [0, 0.5, 0.55, 0.6],
                   "split": [0, 0.7, 1, 2]}
        runner = FakeRunner(score)
        vt.search(runner, ["threshold", "grow", "edge-cut", "split"], {"grow": 0, "edge-cut": 0.5, "split": 1},
                  args, ladders, lambda line: None)
        best = runner.ranked()[0]["setting"].values
        self.assertEqual(best["threshold"], 12)
        self.assertEqual(best["grow"], 0)
        # The ladders alone end at -split 0.7 -edge-cut 0.55 (0.06 below the peak); steps of
        # 0.15 and 0.025 halved three times get within a step of the peak.
        self.assertLess(abs(best["split"] - 0.65), 0.15 / 8)
        self.assertLess(abs(best["edge-cut"] - 0.56), 0.025 / 8)
        ladder_best = max(r["result"]["SEG"] for r in runner.order if r["stage"] != "fine")
        self.assertAlmostEqual(ladder_best, 0.9 - 0.05 - 0.01)
        fine = [r for r in runner.order if r["stage"] == "fine"]
        self.assertTrue(fine)
        for r in fine:
            self.assertTrue(float(r["setting"].values["threshold"]).is_integer())
            self.assertTrue(float(r["setting"].values["grow"]).is_integer())
            self.assertGreater(r["setting"].values["split"], 0)

    def test_finer_steps_leave_options_that_are_off_or_whole(self):
        s = vt.Setting({"threshold": 12, "grow": 2, "split": 0, "smooth": 1})
        ladders = {"threshold": [8, 12, 16], "grow": [1, 2, 3], "split": [0, 0.7, 1], "smooth": [0, 0.5, 1, 1.5]}
        self.assertEqual(vt.fine_steps(s, ["threshold", "grow", "split", "smooth"], ladders), {"smooth": 0.25})
        got = sorted(n.values["smooth"] for n in vt.fine_neighbours(s, {"smooth": 0.25}))
        self.assertEqual(got, [0.75, 1.25])


if __name__ == "__main__":
    unittest.main(verbosity=2)
