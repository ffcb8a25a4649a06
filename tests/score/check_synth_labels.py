#!/usr/bin/python3
"""vanto_synth --labels and the scorer: the files of the Cell Tracking Challenge layout, the
lineage file against the label images, and scripts/vanto-score scoring a vanto -ctc run of the
series against them (the labels against the frames: tests/tools/synthetic_series_test.cpp).

usage: check_synth_labels.py VANTO VANTO_SYNTH"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np
    import tifffile
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

HERE = os.path.dirname(os.path.realpath(__file__))
SCORE = os.path.join(HERE, "..", "..", "scripts", "vanto-score")
VANTO, SYNTH = sys.argv[1], sys.argv[2]
FRAMES = 10


class LabelledSeries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = cls.tmp.name
        cls.truth = os.path.join(cls.root, "truth")
        printed = subprocess.run(
            [SYNTH, "--out", os.path.join(cls.root, "frames"), "--frames", str(FRAMES), "--width", "200",
             "--height", "150", "--cells", "14", "--seed", "3", "--divisions", "3", "--debris", "10",
             "--noise", "0", "--labels", cls.truth],
            check=True, capture_output=True, text=True).stdout
        cls.options = printed.split()
        cls.labels = {t: tifffile.imread(os.path.join(cls.truth, "TRA", f"man_track{t:03d}.tif"))
                      for t in range(FRAMES)}
        with open(os.path.join(cls.truth, "TRA", "man_track.txt")) as f:
            cls.tracks = [tuple(map(int, line.split())) for line in f]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_files_and_printed_options(self):
        self.assertEqual(self.options[self.options.index("-count") + 1], str(FRAMES))
        for t in range(FRAMES):
            seg = tifffile.imread(os.path.join(self.truth, "SEG", f"man_seg{t:03d}.tif"))
            self.assertEqual(seg.dtype, np.uint16)
            self.assertEqual(seg.shape, (150, 200))
            np.testing.assert_array_equal(seg, self.labels[t])
        self.assertFalse(os.path.exists(os.path.join(self.truth, "TRA", f"man_track{FRAMES:03d}.tif")))

    def test_lineage_agrees_with_the_label_images(self):
        seen = {}
        for t, plane in self.labels.items():
            for label in np.unique(plane[plane > 0]):
                seen.setdefault(int(label), []).append(t)
        self.assertEqual({row[0] for row in self.tracks}, set(seen))
        by_id = {row[0]: row for row in self.tracks}
        divided = set()
        for label, begin, end, parent in self.tracks:
            self.assertEqual((begin, end), (seen[label][0], seen[label][-1]), label)
            if parent:
                # A daughter starts in the frame after its mother's last one, beside a sister.
                self.assertEqual(by_id[parent][2] + 1, begin, label)
                divided.add(parent)
        self.assertEqual(divided, {1, 2, 3})
        self.assertEqual(sum(1 for row in self.tracks if row[3]), 6)

    def test_the_scorer_scores_a_run_against_the_labels(self):
        out = os.path.join(self.root, "run")
        os.makedirs(out)
        options = [w.replace("^", "%") for w in self.options]
        subprocess.run([VANTO, *options, "-split", "1.5", "-output", out, "-ctc", os.path.join(out, "ctc"),
                        "-threads", "2"], check=True, capture_output=True)
        scored = subprocess.run([sys.executable, SCORE, os.path.join(out, "ctc"), self.truth, "--json"],
                                check=True, capture_output=True, text=True).stdout
        r = json.loads(scored)
        objects = sum(len(np.unique(p[p > 0])) for p in self.labels.values())
        self.assertEqual(r["frames"], FRAMES)
        self.assertEqual(r["reference_objects"], objects)
        self.assertEqual(r["reference_links_source"], "from TRA/man_track.txt")
        # The reference links: each cell's consecutive frames and one link per daughter.
        self.assertEqual(r["reference_links"], sum(end - begin for _, begin, end, _ in self.tracks) + 6)
        # Most cells are found and followed; the outlines are wider than the true ones.
        for measure, least in (("SEG", 0.1), ("DET", 0.4), ("TRA", 0.4), ("F1", 0.4)):
            self.assertGreater(r[measure], least, measure)
            self.assertLess(r[measure], 1.0, measure)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
