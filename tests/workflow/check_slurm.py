"""The batch workflow on a real one-node SLURM cluster (scripts/slurm-local.sh), against a local run:
    check_slurm.py VANTO VANTO_SYNTH
Exit 77 (skipped, with the reason) where the cluster's daemons cannot run here: not root, or
Snakemake, pandas or matplotlib missing."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_workflow as cw  # noqa: E402 (skips with 77 itself when Snakemake and the rest are missing)

if os.geteuid() != 0:
    print("skipped: the SLURM daemons of scripts/slurm-local.sh need root, and this test runs as "
          f"user {os.geteuid()}")
    sys.exit(77)

CLUSTER_SCRIPT = os.path.join(cw.REPO, "scripts", "slurm-local.sh")
HEADER = cw.HEADER + ["threads", "mem_mb"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def write_sheet(path, rows):
    with open(path, "w") as f:
        f.write("\t".join(HEADER) + "\n")
        for r in rows:
            f.write("\t".join(r) + "\n")


def row(name, source, extra="", mem_mb=""):
    # One thread a job: two jobs at a time on a two-CPU node.
    return cw.row(name, source, extra=extra) + ["1", mem_mb]


def timed(what, function, *args):
    started = time.time()
    result = function(*args)
    print(f"{what}: {time.time() - started:.1f} s", flush=True)
    return result


def cluster(action, folder):
    return subprocess.run(["bash", CLUSTER_SCRIPT, action, folder], capture_output=True, text=True)


def node_memory(env):
    out = subprocess.run(["sinfo", "-h", "-N", "-o", "%m"], env=env, capture_output=True, text=True, check=True)
    return max(int(m.rstrip("+")) for m in out.stdout.split())


def snakemake(work, sheet, out, env, *extra):
    command = [sys.executable, "-m", "snakemake", "-s", cw.SNAKEFILE, "--config", f"samples={sheet}", f"out={out}",
               f"vanto={cw.VANTO}", *extra]
    proc = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True)
    return proc.returncode, proc.stdout + proc.stderr


def comparable(path):
    """A file's content with the times (and the output folder in the job record) left out."""
    name = os.path.basename(path)
    if name == "_job.json":
        with open(path) as f:
            record = json.load(f)
        command = record.pop("command")
        record["command"] = command[:command.index("-output")] + command[command.index("-output") + 2:]
        record.pop("seconds")
        record.pop("started")
        return record
    if name in ("summary.csv", "series.csv"):
        column = "time_ms" if name == "summary.csv" else "run_seconds"
        table = cw.pd.read_csv(path)
        return table.drop(columns=[column]).to_csv(index=False)
    if name.endswith(".png"):
        with open(path, "rb") as f:
            return f.read()
    return cw.without_times(path, name)


def tree(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, files in os.walk(folder) for f in files)


def main():
    work = tempfile.mkdtemp(prefix="vanto_slurm_")
    folder = os.path.join(work, "cluster")
    started = timed("cluster start", cluster, "start", folder)
    if started.returncode != 0:
        print(started.stdout + started.stderr)
        print(f"FAIL: the local cluster did not start; files kept in {work}")
        cluster("stop", folder)
        return 1
    conf = re.search(r"^export SLURM_CONF=(\S+)$", started.stdout, re.M)
    check(conf is not None, f"start prints the SLURM_CONF to export: {started.stdout}")
    try:
        run_checks(work, conf[1] if conf else os.path.join(folder, "slurm.conf"))
    finally:
        stopped = cluster("stop", folder)
        check(stopped.returncode == 0 and cluster("status", folder).returncode == 1,
              f"the cluster stops: {stopped.stdout}{stopped.stderr}")
    if failures:
        print(f"{len(failures)} check(s) failed; files kept in {work}")
        return 1
    shutil.rmtree(work)
    print("all SLURM workflow checks passed")
    return 0


def run_checks(work, slurm_conf):
    # As in containers and CI: no USER.
    env = dict(os.environ, SLURM_CONF=slurm_conf)
    env.pop("USER", None)
    env.pop("VANTO_SLURM_NODES", None)
    env.pop("VANTO_WORKFLOW_PID", None)
    again = cluster("start", os.path.dirname(slurm_conf))
    check(again.returncode == 0 and f"export SLURM_CONF={slurm_conf}" in again.stdout, "start again: the same cluster")

    a = row("a", cw.synth(os.path.join(work, "a"), 3))
    b = row("b", cw.synth(os.path.join(work, "b"), 7), extra="-image -id")
    c = row("c", cw.synth(os.path.join(work, "c"), 11))
    huge = row("huge", a[1], mem_mb=str(node_memory(env) + 1000))
    bad = row("bad", a[1], extra="-w 0")
    _, _, message = cw.direct_run(work, bad)
    sheet = os.path.join(work, "sheet.tsv")

    # A row no node can hold and a series the program refuses fail alone, each with its message.
    write_sheet(sheet, [a, huge, b, bad, c])
    rc, output = timed("SLURM run, 5 rows", snakemake, work, sheet, "out_slurm", env, "--profile", cw.PROFILE)
    check(rc != 0, "the SLURM run reports the failed series")
    check("KeyError" not in output and "Traceback" not in output, "no traceback with USER unset")
    check(sorted(re.findall(r"has been submitted with SLURM jobid", output)) and
          sorted(cw.analyse_jobs(output)) == ["a", "b", "bad", "c"], "every other series was submitted")
    check(re.search(r"^vanto workflow: series huge: not submitted: asks for 1 CPU \(threads column\) and \d+ MiB \(mem_mb column\), "
                    r"more than any node of the cluster offers \(\d+ CPUs? and \d+ MiB\)$", output, re.M),
          "the too large row is refused at validation with the node's sizes")
    check(f"series bad:   {message.splitlines()[0]}" in output, "the failed series' own message is on the console")
    logs = re.findall(r"^series bad: SLURM log (\S+)$", output, re.M)
    check(len(logs) == 1 and os.path.isabs(logs[0]) and os.path.isfile(logs[0]), f"its SLURM log, absolute: {logs}")
    check(re.search(r"^series bad: console and standard error in /\S+/out_slurm/logs/bad.txt$", output, re.M),
          "its own log, absolute")
    for name in ("a", "b", "c"):
        check(os.path.isfile(os.path.join(work, "out_slurm", name, "_job.json")), f"{name} finished on the cluster")

    # Without the failing rows: nothing more is submitted, the tables and plots are made here.
    write_sheet(sheet, [a, b, c])
    rc, output = timed("SLURM run, 3 rows", snakemake, work, sheet, "out_slurm", env, "--profile", cw.PROFILE)
    check(rc == 0 and cw.analyse_jobs(output) == [], f"the finished series are not submitted again: {output[-1500:]}")
    rc, output = timed("local run, 3 rows", snakemake, work, sheet, "out_local", env, "--cores", "2")
    check(rc == 0, f"the local run: {output[-1500:]}")

    # Every output of the cluster run is the local run's, times aside.
    # The refused series left only the record of its refusal.
    ours, theirs = os.path.join(work, "out_slurm"), os.path.join(work, "out_local")
    refused = [n for n in tree(ours) if n.startswith("bad" + os.sep)]
    check(refused == [os.path.join("bad", "_run.json")], f"the refused series leaves only its record: {refused}")
    names = [n for n in tree(theirs) if not n.startswith("logs" + os.sep)]
    check(len(names) > 30 and [n for n in tree(ours) if not n.startswith(("logs" + os.sep, "bad" + os.sep))] == names,
          f"the same files as the local run: {names}")
    for name in names:
        path = os.path.join(ours, name)
        # The review pages embed the run records (output folder, start times); the Report tests
        # check their content against each run's own files.
        if name.endswith(".html"):
            check(os.path.getsize(path) > 0, f"{name} was made on the cluster")
            continue
        check(os.path.isfile(path) and comparable(path) == comparable(os.path.join(theirs, name)),
              f"{name} is the local run's")


if __name__ == "__main__":
    sys.exit(main())
