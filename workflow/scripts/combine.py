"""The combined tables of a sheet: summary.csv (one row per series and frame, the average
report under plain column names) and series.csv (one row per series). Called by the
Snakefile's combine rule, in sheet order."""

import os
import sys

import pandas as pd

sm = snakemake  # noqa: F821 (set by Snakemake)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import vanto_results as vr  # noqa: E402

folders = [(name, os.path.dirname(job)) for name, job in zip(sm.params.names, sm.input)]
frames = []
for name, folder in folders:
    average = vr.read_average(folder)
    average.insert(0, "series", name)
    frames.append(average)
summary = pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()
vr.write_plain_csv(summary, sm.output.summary, vr.SUMMARY_COLUMNS)
series = pd.DataFrame([vr.series_row(name, folder) for name, folder in folders])
vr.write_plain_csv(series, sm.output.series, vr.SERIES_COLUMNS)
