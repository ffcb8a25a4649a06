"""Reading a run's output folder into pandas tables with plain column names. Shared by
scripts/vanto-plot and the workflow's combined tables; works on the folder of any run (the
track outputs and the job record are used when they exist)."""

import json
import os

import pandas as pd

AVERAGE_FILE = "_average.csv"
CELL_FILE = "_cell.csv"
LOG_FILE = "_log.txt"
TRACKS_FILE = "_tracks.csv"
EVENTS_FILE = "_events.csv"
JOB_FILE = "_job.json"
RUN_RECORD_FILE = "_run.json"

DIRECTIONS = ["n", "ne", "e", "se", "s", "sw", "w", "nw"]
GROUP_FIELDS = ["count", "size", "circumference", "circularity", "life", "way"]

# The average report's 45 fields in order; None marks its always-empty columns.
AVERAGE_FIELDS = (
    ["frame", "time_ms", None]
    + [f"normal_{f}" for f in GROUP_FIELDS]
    + ["normal_diffuse_15", "normal_diffuse_30", "normal_diffuse_45", "normal_thick", "normal_thin", "normal_aspect"]
    + [f"last1_{d}" for d in DIRECTIONS]
    + [f"last30_{d}" for d in DIRECTIONS]
    + [None]
    + [f"small_{f}" for f in GROUP_FIELDS]
    + [None]
    + [f"all_{f}" for f in GROUP_FIELDS]
)
AVERAGE_COLUMNS = [f for f in AVERAGE_FIELDS if f]

# The cell report's 32 fields; the last four exist only for cells with a step in the frame.
CELL_FIELDS = [
    "frame", "index", "id", "size", "circumference", "circularity", "center_x", "center_y", "voronoi",
    "min_x", "min_y", "max_x", "max_y", "min_angle", "min_length", "max_angle", "max_length", "thick_thin",
    "life", None, "total_way", "way_15", "way_30", "way_45", "diffuse_15", "diffuse_30", "diffuse_45", None,
    "angle_1", "distance_1", "angle_45", "distance_45",
]
CELL_COLUMNS = [f for f in CELL_FIELDS if f]

SUMMARY_COLUMNS = ["series"] + AVERAGE_COLUMNS
SERIES_COLUMNS = [
    "series", "frames", "cells_mean", "cells_min", "cells_max", "normal_cells_mean",
    "mean_speed_px_per_frame", "mean_size_px", "tracks", "splits", "merges", "unreadable_frames", "exit_status", "ending",
    "run_seconds",
]

ENDINGS = (("Cell Number Too Much", "cell limit"), ("Link Number Too Much", "link limit"))


def _read_report(path, fields, header_lines):
    """Rows after the header lines, every field followed by a comma, short rows padded with NaN."""
    names = [f or f"_empty{i}" for i, f in enumerate(fields)] + ["_end"]
    with open(path, encoding="utf-8", errors="replace") as f:
        for _ in range(header_lines):
            f.readline()
        if not f.read(1):
            return pd.DataFrame({c: pd.Series(dtype="float64") for c in fields if c})
    table = pd.read_csv(path, header=None, skiprows=header_lines, names=names, index_col=False)
    return table[[c for c in fields if c]]


def read_average(folder):
    """The average report, one row per frame. small_count is the number of small cells (the
    report itself writes 1 for a frame without any)."""
    table = _read_report(os.path.join(folder, AVERAGE_FILE), AVERAGE_FIELDS, 2)
    table["small_count"] = table["all_count"] - table["normal_count"]
    return table


def read_cells(folder):
    """The cell report, one row per cell that is not small, per frame."""
    return _read_report(os.path.join(folder, CELL_FILE), CELL_FIELDS, 1)


def read_optional_csv(folder, name):
    """A plain CSV of the track outputs, or None when the run did not write it."""
    path = os.path.join(folder, name)
    return pd.read_csv(path) if os.path.isfile(path) else None


def read_job(folder):
    """The workflow's record of the run (command, exit status, seconds), or {} for a direct run."""
    path = os.path.join(folder, JOB_FILE)
    if not os.path.isfile(path):
        return {}
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def read_run_record(folder):
    """The program's own run record, or {} for runs of programs that write none."""
    path = os.path.join(folder, RUN_RECORD_FILE)
    if not os.path.isfile(path):
        return {}
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except ValueError:
        return {}


def run_ending(folder):
    """How the run ended: the run record's word, else read from the log ("finished",
    "cell limit" or "link limit")."""
    ending = read_run_record(folder).get("ending")
    if ending:
        return ending
    path = os.path.join(folder, LOG_FILE)
    if not os.path.isfile(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    for mark, ending in ENDINGS:
        if mark in text:
            return ending
    return "finished"


def is_run_folder(folder):
    return os.path.isfile(os.path.join(folder, AVERAGE_FILE))


def run_folders(folder):
    """Sub-folders holding a run: the series of the folder's series.csv in its order when a
    workflow wrote one (folders of rows since removed are left out), else all, by name."""
    table = os.path.join(folder, "series.csv")
    if os.path.isfile(table):
        names = [str(n) for n in pd.read_csv(table, dtype={"series": str})["series"]]
    else:
        names = sorted(os.listdir(folder))
    names = [n for n in names if is_run_folder(os.path.join(folder, n))]
    return [(n, os.path.join(folder, n)) for n in names]


def series_row(name, folder):
    """One row of series.csv for a run folder."""
    average = read_average(folder)
    cells = read_cells(folder)
    tracks = read_optional_csv(folder, TRACKS_FILE)
    events = read_optional_csv(folder, EVENTS_FILE)
    job = read_job(folder)
    counts = average["all_count"]
    steps = cells["distance_1"].dropna()
    row = {
        "series": name,
        "frames": len(average),
        "cells_mean": counts.mean() if len(counts) else None,
        "cells_min": counts.min() if len(counts) else None,
        "cells_max": counts.max() if len(counts) else None,
        "normal_cells_mean": average["normal_count"].mean() if len(average) else None,
        "mean_speed_px_per_frame": steps.mean() if len(steps) else None,
        "mean_size_px": cells["size"].mean() if len(cells) else None,
        "tracks": len(tracks) if tracks is not None else None,
        "splits": events["splits"].sum() if events is not None and "splits" in events else None,
        "merges": events["merges"].sum() if events is not None and "merges" in events else None,
        "unreadable_frames": len(read_run_record(folder).get("unreadable_frames") or []),
        "exit_status": job.get("exit_status", read_run_record(folder).get("exit_status")),
        "ending": run_ending(folder),
        "run_seconds": job.get("seconds"),
    }
    return row


def write_plain_csv(table, path, columns):
    """Header line, comma-separated, no trailing comma, C-locale numbers, empty for missing."""
    table = table.reindex(columns=columns)
    table.to_csv(path, index=False, lineterminator="\n", float_format="%.6g")
