#!/usr/bin/python3
"""The measures of scripts/vanto-score on small drawn cases whose values are worked out by hand
(in the comments), through the command line with CTC folders and plain label images."""

import importlib.machinery
import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

try:
    import numpy as np
    import tifffile
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

HERE = os.path.dirname(os.path.realpath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "vanto-score")
loader = importlib.machinery.SourceFileLoader("vanto_score", SCRIPT)
score_loading = importlib.util.spec_from_loader("vanto_score", loader)
vs = importlib.util.module_from_spec(score_loading)
loader.exec_module(vs)


def plane(*boxes, shape=(8, 12)):
    """A label plane with each (label, y0, y1, x0, x1) box filled, later boxes on top."""
    p = np.zeros(shape, np.uint16)
    for label, y0, y1, x0, x1 in boxes:
        p[y0:y1, x0:x1] = label
    return p


def write_ctc(folder, frames, tracks, prefix="mask", digits=3):
    os.makedirs(folder, exist_ok=True)
    for t, p in enumerate(frames):
        tifffile.imwrite(os.path.join(folder, f"{prefix}{t:0{digits}d}.tif"), p)
    name = "res_track.txt" if prefix == "mask" else "man_track.txt"
    with open(os.path.join(folder, name), "w") as f:
        for row in tracks:
            f.write(" ".join(map(str, row)) + "\n")


class Case(unittest.TestCase):
    """Scores a prediction against a CTC ground truth (both frames and tracks) by the command."""

    def score(self, ref_frames, ref_tracks, pred_frames, pred_tracks):
        with tempfile.TemporaryDirectory() as d:
            write_ctc(os.path.join(d, "res"), pred_frames, pred_tracks)
            write_ctc(os.path.join(d, "gt", "TRA"), ref_frames, ref_tracks, prefix="man_track")
            os.makedirs(os.path.join(d, "gt", "SEG"))
            for t, p in enumerate(ref_frames):
                tifffile.imwrite(os.path.join(d, "gt", "SEG", f"man_seg{t:03d}.tif"), p)
            out = io.StringIO()
            with redirect_stdout(out):
                self.assertEqual(vs.main([os.path.join(d, "res"), os.path.join(d, "gt"), "--json"]), 0)
            return json.loads(out.getvalue())

    def check(self, r, **expected):
        for key, value in expected.items():
            got = r["errors"][key] if key in r["errors"] else r["AOGM"].get(key, r.get(key))
            if isinstance(value, float):
                self.assertAlmostEqual(got, value, places=9, msg=key)
            else:
                self.assertEqual(got, value, key)


# Two cells A (4 x 4 = 16 px) and B (4 x 4) in one frame.
A = (1, 0, 4, 0, 4)
B = (2, 0, 4, 6, 10)


class Detection(Case):
    def test_perfect_agreement_scores_one_everywhere(self):
        frames = [plane(A, B), plane(A, B)]
        r = self.score(frames, [(1, 0, 1, 0), (2, 0, 1, 0)], frames, [(1, 0, 1, 0), (2, 0, 1, 0)])
        self.check(r, SEG=1.0, DET=1.0, TRA=1.0, precision=1.0, recall=1.0, F1=1.0, missed=0, split=0, merged=0,
                   false_positive=0, ED=0, EA=0, EC=0)

    def test_an_empty_prediction_scores_zero(self):
        frames = [plane(A, B), plane(A, B)]
        empty = [plane(), plane()]
        r = self.score(frames, [(1, 0, 1, 0), (2, 0, 1, 0)], empty, [])
        # 4 FN cost 40 = AOGM-D0; TRA adds the 2 missing links at 1.5 each: AOGM = AOGM0 = 43.
        self.check(r, SEG=0.0, DET=0.0, TRA=0.0, recall=0.0, F1=0.0, missed=4, FN=4, EA=2, predicted_objects=0)
        self.assertIsNone(r["precision"])

    def test_a_missed_cell(self):
        r = self.score([plane(A, B)], [(1, 0, 0, 0), (2, 0, 0, 0)], [plane(A)], [(1, 0, 0, 0)])
        # FN 1: AOGM-D = 10 of 20; SEG (1 + 0) / 2; precision 1/1, recall 1/2, F1 2/3.
        self.check(r, SEG=0.5, DET=0.5, TRA=0.5, precision=1.0, recall=0.5, F1=2 / 3, missed=1, split=0)

    def test_a_false_positive(self):
        speck = (3, 6, 8, 0, 2)
        r = self.score([plane(A, B)], [(1, 0, 0, 0), (2, 0, 0, 0)], [plane(A, B, speck)], [])
        # FP 1: AOGM-D = 1 of 20; precision 2/3, recall 1, F1 0.8.
        self.check(r, SEG=1.0, DET=0.95, precision=2 / 3, recall=1.0, F1=0.8, false_positive=1, missed=0)

    def test_a_merge_of_two_cells(self):
        both = (1, 0, 4, 0, 10)  # 40 px over A, B and the 8 px between them
        r = self.score([plane(A, B)], [(1, 0, 0, 0), (2, 0, 0, 0)], [plane(both)], [(1, 0, 0, 0)])
        # One predicted object matches both: NS 1, AOGM-D 5 of 20; each Jaccard 16/40.
        self.check(r, SEG=0.4, DET=0.75, merged=1, NS=1, FN=0, FP=0, precision=1.0, recall=1.0)

    def test_a_split_cell(self):
        left, right = (5, 0, 4, 0, 2), (6, 0, 4, 2, 4)  # A in two halves of 8 px, neither over half
        r = self.score([plane(A, B)], [(1, 0, 0, 0), (2, 0, 0, 0)], [plane(left, right, B)], [])
        # A unmatched (FN 1) and both halves match nothing (FP 2): AOGM-D = 12 of 20.
        self.check(r, SEG=0.5, DET=0.4, split=1, missed=0, FN=1, false_positive=2, precision=1 / 3, recall=0.5)

    def test_a_cell_covered_exactly_half_is_not_matched(self):
        half = (1, 0, 2, 0, 4)
        r = self.score([plane(A)], [(1, 0, 0, 0)], [plane(half)], [])
        self.check(r, SEG=0.0, DET=0.0, FN=1, FP=1, missed=1)


class Links(Case):
    def test_a_broken_track_misses_its_link(self):
        ref = [plane(A), plane(A)]
        pred = [plane(A), plane((2, 0, 4, 0, 4))]
        r = self.score(ref, [(1, 0, 1, 0)], pred, [(1, 0, 0, 0), (2, 1, 1, 0)])
        # EA 1: AOGM 1.5 of AOGM0 = 2 x 10 + 1.5 = 21.5.
        self.check(r, DET=1.0, TRA=1 - 1.5 / 21.5, EA=1, ED=0, EC=0)

    def test_swapped_identities_cost_two_deletions_and_two_additions(self):
        ref = [plane(A, B), plane(A, B)]
        pred = [plane(A, B), plane((2, 0, 4, 0, 4), (1, 0, 4, 6, 10))]
        r = self.score(ref, [(1, 0, 1, 0), (2, 0, 1, 0)], pred, [(1, 0, 1, 0), (2, 0, 1, 0)])
        # ED 2 (1 + 1), EA 2 (1.5 + 1.5): AOGM 5 of 4 x 10 + 2 x 1.5 = 43.
        self.check(r, DET=1.0, TRA=1 - 5 / 43, ED=2, EA=2, EC=0)

    def test_a_division_seen_as_a_continuation_has_the_wrong_semantics(self):
        mother = (1, 2, 6, 2, 10)
        ref = [plane(mother), plane((2, 0, 4, 0, 4), (3, 4, 8, 6, 10))]
        pred = [plane(mother), plane((1, 0, 4, 0, 4), (2, 4, 8, 6, 10))]
        r = self.score(ref, [(1, 0, 0, 0), (2, 1, 1, 1), (3, 1, 1, 1)], pred, [(1, 0, 1, 0), (2, 1, 1, 0)])
        # The link 1 -> 1 is the reference's division link 1 -> 2 as a plain one (EC 1); the
        # division link 1 -> 3 is missing (EA 1): AOGM 2.5 of 3 x 10 + 2 x 1.5 = 33.
        self.check(r, DET=1.0, TRA=1 - 2.5 / 33, EC=1, EA=1, ED=0)

    def test_links_of_unmatched_objects_are_not_compared(self):
        ref = [plane(A), plane(A)]
        pred = [plane(A), plane((1, 0, 2, 0, 4))]  # the second object covers half only
        r = self.score(ref, [(1, 0, 1, 0)], pred, [(1, 0, 1, 0)])
        # FN 1, FP 1, EA 1 (the reference link), the predicted link is not counted: 12.5 of 21.5.
        self.check(r, TRA=1 - 12.5 / 21.5, DET=1 - 11 / 20, ED=0, EA=1)


class PlainLabels(unittest.TestCase):
    """--labels: the reference links come from overlaps between frames."""

    def test_overlap_links_follow_cells_and_divisions(self):
        frames = {
            0: plane((1, 2, 6, 2, 10)),
            1: plane((7, 0, 4, 0, 4), (4, 4, 8, 6, 10)),  # two successors: a division
            2: plane((2, 0, 4, 1, 5), (9, 4, 8, 6, 10)),
        }
        self.assertEqual(vs.overlap_links(frames),
                         {(0, 1, 7): True, (0, 1, 4): True, (1, 7, 2): False, (1, 4, 9): False})

    def test_a_tracked_prediction_of_relabelled_frames_scores_one(self):
        ref = [plane(A, B), plane((5, 0, 4, 1, 5), (3, 0, 4, 6, 10))]
        pred = [plane(A, B), plane((1, 0, 4, 1, 5), (2, 0, 4, 6, 10))]
        with tempfile.TemporaryDirectory() as d:
            write_ctc(os.path.join(d, "res"), pred, [(1, 0, 1, 0), (2, 0, 1, 0)])
            from PIL import Image

            for k, p in enumerate(ref, 1):
                Image.fromarray(p.astype(np.uint8)).save(os.path.join(d, f"labels_{k:04d}.png"))
            out = io.StringIO()
            with redirect_stdout(out):
                rc = vs.main([os.path.join(d, "res"), "--labels", os.path.join(d, "labels_%04d.png"), "--json"])
            self.assertEqual(rc, 0)
            r = json.loads(out.getvalue())
            self.assertEqual((r["SEG"], r["DET"], r["TRA"], r["reference_links"]), (1.0, 1.0, 1.0, 2))
            self.assertIn("overlaps", r["reference_links_source"])
            # Frame 2 alone: two objects, no links.
            with redirect_stdout(io.StringIO()) as out:
                vs.main([os.path.join(d, "res"), "--labels", os.path.join(d, "labels_%04d.png"), "--frames", "2",
                         "--json"])
            r = json.loads(out.getvalue())
            self.assertEqual((r["frames"], r["reference_objects"], r["reference_links"]), (1, 2, 0))


if __name__ == "__main__":
    unittest.main()
