"""The batch workflow end to end on small generated series:
    check_workflow.py VANTO VANTO_SYNTH
Exit 77 (skipped) when Snakemake, pandas or matplotlib is missing."""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

try:
    import matplotlib  # noqa: F401
    import pandas as pd
    import snakemake  # noqa: F401
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SNAKEFILE = os.path.join(REPO, "workflow", "Snakefile")
PROFILE = os.path.join(REPO, "workflow", "profiles", "slurm")
PLOT = os.path.join(REPO, "scripts", "vanto-plot")
VANTO, SYNTH = (os.path.abspath(p) for p in sys.argv[1:3])
HEADER = ["name", "source", "w", "h", "count", "threshold", "size", "extra"]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

SUMMARY_COLUMNS = (
    "series,frame,time_ms,normal_count,normal_size,normal_circumference,normal_circularity,normal_life,"
    "normal_way,normal_diffuse_15,normal_diffuse_30,normal_diffuse_45,normal_thick,normal_thin,normal_aspect,"
    "last1_n,last1_ne,last1_e,last1_se,last1_s,last1_sw,last1_w,last1_nw,"
    "last30_n,last30_ne,last30_e,last30_se,last30_s,last30_sw,last30_w,last30_nw,"
    "small_count,small_size,small_circumference,small_circularity,small_life,small_way,"
    "all_count,all_size,all_circumference,all_circularity,all_life,all_way"
)
SERIES_COLUMNS = (
    "series,frames,cells_mean,cells_min,cells_max,normal_cells_mean,mean_speed_px_per_frame,mean_size_px,"
    "tracks,splits,merges,unreadable_frames,exit_status,ending,run_seconds"
)
RUN_PLOTS = ["cells_per_frame.png", "step_length.png", "voronoi_area.png", "size_circularity.png",
             "directions_rose.png", "diffusion.png"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def snakemake_run(work, sheet, out, *extra):
    command = [sys.executable, "-m", "snakemake", "-s", SNAKEFILE, "--config", f"samples={sheet}", f"out={out}",
               f"vanto={VANTO}", *extra]
    proc = subprocess.run(command, cwd=work, capture_output=True, text=True)
    return proc.returncode, proc.stdout + proc.stderr


def analyse_jobs(output):
    """Series whose analyse job was planned or run, from Snakemake's job lines."""
    return re.findall(r"^rule analyse:\n(?:    .*\n)*?    wildcards: name=(\S+)", output, re.M)


def write_sheet(path, rows):
    with open(path, "w") as f:
        f.write("\t".join(HEADER) + "\n")
        for row in rows:
            f.write("\t".join(row) + "\n")


def synth(folder, seed, cells=5):
    subprocess.run([SYNTH, "--out", folder, "--frames", "5", "--width", "64", "--height", "64", "--cells",
                    str(cells), "--seed", str(seed)], check=True, capture_output=True)
    return os.path.join(folder, "frame_%04d.png")


def row(name, source, count="5", extra=""):
    return [name, source, "64", "64", count, "20", "56", extra]


def direct_run(work, r):
    """The program run by hand with the row's options; returns (exit status, folder, stderr)."""
    out = os.path.join(work, "direct", r[0])
    os.makedirs(out, exist_ok=True)
    options = ["-source", r[1], "-w", r[2], "-h", r[3], "-count", r[4], "-threshold", r[5], "-size", r[6]]
    proc = subprocess.run([VANTO, *options, *r[7].split(), "-output", out], capture_output=True, text=True)
    return proc.returncode, out, proc.stderr


def without_times(path, name):
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    if name == "_average.csv":
        return [b",".join(l.split(b",")[:1] + l.split(b",")[2:]) for l in lines]
    if name == "_log.txt":
        return [l for l in lines if not l.startswith(b"--- Analysis Finished in ")]
    if name == "_run.json":
        # The run record names its times, its command line, its output folder, and the thread
        # share and progress option the workflow adds to each job.
        record = json.loads(b"\n".join(lines))
        for key in ("start_time", "end_time", "command_line", "threads"):
            record.pop(key, None)
        for option in ("-output", "-threads", "-progress"):
            record.get("options", {}).pop(option, None)
        return record
    return lines


def valid_png(path):
    with open(path, "rb") as f:
        data = f.read()
    return data.startswith(PNG_SIGNATURE) and data[12:16] == b"IHDR" and data.endswith(b"IEND\xaeB`\x82")


def check_plots(folder, names, what):
    for name in names:
        path = os.path.join(folder, name)
        check(os.path.isfile(path) and valid_png(path), f"{what}: {name} is a valid PNG")


def main():
    work = tempfile.mkdtemp(prefix="vanto_workflow_")
    a = row("a", synth(os.path.join(work, "a"), 3))
    b = row("b", synth(os.path.join(work, "b"), 7), extra="-image -id")
    # Named like a's plot log once was: every log must stay its own.
    c = row("a.plot", synth(os.path.join(work, "c"), 11))

    # A sheet with bad rows is refused whole, one message per problem, before any job.
    sheet = os.path.join(work, "bad.tsv")
    with open(sheet, "w") as f:
        f.write("\t".join(HEADER + ["colour"]) + "\n" + "\t".join(a + ["red"]) + "\n")
    rc, output = snakemake_run(work, sheet, "out_bad", "--cores", "2")
    check(rc != 0 and 'unknown column "colour"' in output, "an unknown column is refused")
    write_sheet(sheet, [a, row("a", a[1]), row("d", os.path.join(work, "none_%04d.png")), row("e", a[1], count="x5")])
    rc, output = snakemake_run(work, sheet, "out_bad", "--cores", "2")
    messages = [l for l in output.splitlines() if l.startswith("vanto workflow: ")]
    check(rc != 0 and len(messages) == 3, f"three problems, three messages: {messages}")
    check(any('name "a" is already used on row 1' in m for m in messages), "a duplicate name is named")
    check(any("none_0001.png\" does not exist" in m for m in messages), "a missing frame file is named")
    check(any('count "x5" is not a whole number' in m for m in messages), "a value that is not a number is named")
    check(not os.path.exists(os.path.join(work, "out_bad")), "no job ran for a refused sheet")

    # Every optional column becomes its option; the job size follows the frame size unless given.
    sys.path.insert(0, os.path.join(REPO, "workflow", "scripts"))
    import sheet as sample_sheet
    with open(sheet, "w") as f:
        f.write("name\tsource\tw\th\tcount\tthreshold\tsize\tx\ty\trange\tinvert\tfirst\tchannel\textra\tmem_mb\n")
        f.write(f"s\t{a[1]}\t2048\t2048\t100\t20\t56\t3\t4\t0 4095.5\tyes\t1\t2\t-image -id\t64\n")
        f.write(f"t\t{a[1]}\t64\t64\t5\t20\t56\t\t\t\tno\t\t\t\t\n")
    s, t = sample_sheet.read_sheet(sheet)
    check(sample_sheet.program_options(s) == [
        "-source", a[1], "-w", "2048", "-h", "2048", "-count", "100", "-threshold", "20", "-size", "56", "-x", "3",
        "-y", "4", "-range", "0", "4095.5", "-invert", "-first", "1", "-channel", "2", "-image", "-id"],
        "the sheet's columns become the program's options")
    check(sample_sheet.program_options(t) == ["-source", a[1], "-w", "64", "-h", "64", "-count", "5",
                                            "-threshold", "20", "-size", "56"], "empty cells give nothing")
    big, small = sample_sheet.job_resources(s), sample_sheet.job_resources(t)
    check(big["mem_mb"] == 64 and big["threads"] > small["threads"] and big["runtime"] > small["runtime"],
          "job resources: a sheet value wins, larger series get more")

    # A series whose first frame is refused fails alone; the others finish.
    bad_frames = os.path.join(work, "bad")
    os.makedirs(bad_frames)
    with open(os.path.join(bad_frames, "frame_0001.png"), "w") as f:
        f.write("not an image\n")
    bad = row("bad", os.path.join(bad_frames, "frame_%04d.png"), count="1")
    status, _, message = direct_run(work, bad)
    if status == 0:
        # This build analyses an unreadable first frame; an empty window is refused by any build.
        bad = row("bad", bad[1], count="1", extra="-w 0")
        status, _, message = direct_run(work, bad)
    check(status == 1 and message, "the program refuses the bad series")
    sheet = os.path.join(work, "sheet.tsv")
    write_sheet(sheet, [a, bad, b])
    rc, output = snakemake_run(work, sheet, "out", "--cores", "2", "--keep-going")
    check(rc != 0, "the workflow reports the failed series")
    check(f"series bad:   {message.splitlines()[0]}" in output, "the program's message is shown")
    check(sorted(analyse_jobs(output)) == ["a", "b", "bad"], "every series was started")
    check(not os.path.exists(os.path.join(work, "out", "bad", "_average.csv")), "the failed series leaves no report")

    # Every series' outputs are those of a direct run with the same options.
    for r in (a, b):
        status, direct, _ = direct_run(work, r)
        names = sorted(os.listdir(direct))
        ours = set(os.listdir(os.path.join(work, "out", r[0])))
        check(status == 0 and sorted(ours - {"_job.json", "plots", "report.html"}) == names, f"{r[0]}: the same files as a direct run")
        for name in names:
            ours = os.path.join(work, "out", r[0], name)
            check(os.path.isfile(ours) and without_times(ours, name) == without_times(os.path.join(direct, name), name),
                  f"{r[0]}: {name} is the direct run's")

    # The bad row removed: nothing is analysed again, the combined outputs are built.
    write_sheet(sheet, [a, b])
    rc, output = snakemake_run(work, sheet, "out", "--cores", "2")
    check(rc == 0 and analyse_jobs(output) == [], "finished series are not run again")
    summary = pd.read_csv(os.path.join(work, "out", "summary.csv"))
    series = pd.read_csv(os.path.join(work, "out", "series.csv"))
    check(",".join(summary.columns) == SUMMARY_COLUMNS, "summary.csv column names")
    check(",".join(series.columns) == SERIES_COLUMNS, "series.csv column names")
    check(list(summary.groupby("series").size().items()) == [("a", 5), ("b", 5)], "summary.csv: 5 frames a series")
    check(list(series["series"]) == ["a", "b"] and list(series["frames"]) == [5, 5], "series.csv: one row a series")
    check((series["exit_status"] == 0).all() and (series["ending"] == "finished").all(), "series.csv: how runs ended")
    average = pd.read_csv(os.path.join(work, "out", "a", "_average.csv"), skiprows=2, header=None)
    check(list(summary[summary.series == "a"]["all_count"]) == list(average[39]), "all_count is the report's")
    for table in ("summary.csv", "series.csv"):
        with open(os.path.join(work, "out", table)) as f:
            lines = f.read().splitlines()
        check(all(line.count(",") == lines[0].count(",") and not line.endswith(",") for line in lines),
              f"{table}: as many fields on every line, no trailing comma")
    for name in ("a", "b"):
        check_plots(os.path.join(work, "out", name, "plots"), RUN_PLOTS, f"plots of {name}")
    check_plots(os.path.join(work, "out", "plots"), ["cells_per_frame.png", "series_overview.png"], "sheet plots")

    # A new row runs one job.
    write_sheet(sheet, [a, b, c])
    rc, output = snakemake_run(work, sheet, "out", "--cores", "2")
    check(rc == 0 and analyse_jobs(output) == ["a.plot"], "a new row runs only its series")
    check(len(pd.read_csv(os.path.join(work, "out", "series.csv"))) == 3, "series.csv gains the new series")
    logs = os.path.join(work, "out", "logs")
    with open(os.path.join(logs, "a.plot.txt")) as f:
        first_line = f.readline().rstrip("\n")
    with open(os.path.join(work, "out", "a.plot", "_job.json")) as f:
        job_command = json.load(f)["command"]
    check(first_line == "$ " + shlex.join(job_command) and shlex.split(first_line[2:]) == job_command,
          f"the job log shows the command shell-quoted: {first_line}")
    check(all(os.path.isfile(os.path.join(logs, "plot", n + ".txt")) for n in ("a", "a.plot")),
          "a and a.plot have plot logs of their own, apart from the analysis logs")

    # The cluster profile plans one SLURM job per series, each with memory and time.
    rc, output = snakemake_run(work, sheet, "out_slurm", "--profile", PROFILE, "-n")
    check(rc == 0 and sorted(analyse_jobs(output)) == ["a", "a.plot", "b"], "the SLURM dry run plans one job a series")
    check(len(re.findall(r"^rule analyse:\n(?:    .*\n)*?    resources: .*mem_mb=\d+.*runtime=\d+", output, re.M))
          == 3, "every SLURM job has mem_mb and runtime")

    # Plots of a run without cells: every plot, a note instead of data, no traceback.
    empty = os.path.join(work, "empty")
    status, _, _ = direct_run(work, row("empty", synth(empty, 5, cells=0)))
    plots = os.path.join(work, "empty_plots")
    proc = subprocess.run([sys.executable, PLOT, os.path.join(work, "direct", "empty"), "-o", plots],
                          capture_output=True, text=True)
    check(status == 0 and proc.returncode == 0 and "Traceback" not in proc.stderr, "plots of a run without cells")
    check("skipped track_lengths.png, lineage.png" in proc.stdout, "the skipped track plots are named")
    check_plots(plots, RUN_PLOTS, "plots without cells")

    # A table that the run record does not list was left by another run: it is not plotted.
    with open(os.path.join(work, "direct", "empty", "_tracks.csv"), "w") as f:
        f.write("track,first_frame,last_frame,frames,parents,fate,children,total_way,mean_size,max_size\n1,1,5,5,,lost,,3,40,41\n")
    stale_plots = os.path.join(work, "stale_plots")
    proc = subprocess.run([sys.executable, PLOT, os.path.join(work, "direct", "empty"), "-o", stale_plots],
                          capture_output=True, text=True)
    check(proc.returncode == 0 and "skipped track_lengths.png, lineage.png" in proc.stdout
          and not os.path.exists(os.path.join(stale_plots, "track_lengths.png")),
          "a table the run record does not list is not plotted")

    if failures:
        print(f"{len(failures)} check(s) failed; files kept in {work}")
        return 1
    shutil.rmtree(work)
    print("all workflow checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
