"""Job sizes against a cluster's node sizes, and the two SLURM profiles, without a cluster:
    check_job_sizes.py
Exit 77 (skipped) when Snakemake or PyYAML is missing."""

import os
import subprocess
import sys
import tempfile

try:
    import snakemake
    import yaml
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PROFILE = os.path.join(REPO, "workflow", "profiles", "slurm")
sys.path.insert(0, os.path.join(REPO, "workflow", "scripts"))
import sheet as sample_sheet  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def fit(row, nodes):
    return sample_sheet.fit_to_nodes(row, sample_sheet.job_resources(row), nodes)


def job_sizes():
    small = {"w": 64, "h": 64, "count": 5}
    mega = {"w": 2048, "h": 2048, "count": 100}
    derived = sample_sheet.job_resources(mega)
    check(derived["threads"] == 4 and derived["mem_mb"] > 1024, f"a megapixel row asks 4 threads, >1 GiB: {derived}")

    # Sizes derived from the frame size shrink to the largest node; the time limit is kept.
    sizes, problem = fit(mega, [(2, 24105)])
    check(problem is None and sizes == dict(derived, threads=2), f"derived threads capped at 2 CPUs: {sizes}")
    sizes, problem = fit(mega, [(2, 1000)])
    check(problem is None and (sizes["threads"], sizes["mem_mb"]) == (2, 1000), f"derived memory capped: {sizes}")
    sizes, problem = fit(small, [(64, 256000)])
    check(problem is None and sizes == sample_sheet.job_resources(small), "a job that fits is left alone")
    check(fit(mega, []) == (derived, None), "no node sizes known: nothing changes")

    # Sizes the sheet gives are never lowered: the row is refused, naming what it asks and the nodes.
    sizes, problem = fit(dict(small, mem_mb=30000), [(2, 24105)])
    check(problem is not None and "30000 MiB (mem_mb column)" in problem and "2 CPUs and 24105 MiB" in problem,
          f"too much memory is refused with the node's sizes: {problem}")
    _, problem = fit(dict(small, threads=4), [(2, 24105)])
    check(problem is not None and "4 CPUs (threads column)" in problem, f"too many CPUs are refused: {problem}")
    check(fit(dict(small, threads=2, mem_mb=24105), [(2, 24105)])[1] is None, "a row asking exactly a node fits")

    # Different nodes: the job must fit one node whole, not the largest CPUs of one and memory of another.
    nodes = [(64, 4000), (4, 512000)]
    _, problem = fit(dict(small, threads=8, mem_mb=100000), nodes)
    check(problem is not None and "64 CPUs and 4000 MiB or 4 CPUs and 512000 MiB" in problem,
          f"no node holds both: {problem}")
    check(fit(dict(small, threads=4, mem_mb=100000), nodes)[1] is None, "the large-memory node holds the job")

    # sinfo's lines, and the form handed to the jobs in the environment.
    nodes = sample_sheet.parse_sinfo_nodes("2 24105\n2 24105\n16 128000+\n\nbogus line\n")
    check(nodes == [(16, 128000), (2, 24105)], f"sinfo lines: distinct sizes, largest first: {nodes}")
    check(sample_sheet.parse_nodes(sample_sheet.format_nodes(nodes)) == nodes, "node sizes survive the environment")


def profiles():
    with open(os.path.join(PROFILE, "config.yaml")) as f:
        v7 = yaml.safe_load(f)
    with open(os.path.join(PROFILE, "config.v8+.yaml")) as f:
        v8 = yaml.safe_load(f)
    check(v7.get("slurm") is True and "executor" not in v7, "Snakemake 7 profile: the built-in SLURM executor")
    check(v8.get("executor") == "slurm" and "slurm" not in v8, "Snakemake 8 profile: the slurm executor plugin")
    common7 = {k: v for k, v in v7.items() if k != "slurm"}
    common8 = {k: v for k, v in v8.items() if k != "executor"}
    check(common7 == common8, f"both profiles set the same options: {common7} / {common8}")
    check("default-resources" not in v7, "no account or partition unless the user gives one")
    # Snakemake 7 reads its file through its own option parser (as --profile does).
    args = snakemake.get_argument_parser(PROFILE).parse_args([])
    check(args.slurm and args.keep_going and str(args.jobs) == "100" and args.latency_wait == 60,
          "Snakemake 7 takes config.yaml's options")


def dry_run():
    """The Snakefile with node sizes given (as the submitting Snakemake hands them to its jobs):
    a too large row is refused at validation, the others are planned, derived threads capped."""
    work = tempfile.mkdtemp(prefix="vanto_sizes_")
    frame = os.path.join(work, "frame_0001.png")
    open(frame, "wb").close()
    sheet = os.path.join(work, "sheet.tsv")
    with open(sheet, "w") as f:
        f.write("name\tsource\tw\th\tcount\tthreshold\tsize\tmem_mb\n")
        f.write(f"big\t{work}/frame_%04d.png\t2048\t2048\t1\t20\t56\t\n")
        f.write(f"huge\t{work}/frame_%04d.png\t64\t64\t1\t20\t56\t30000\n")
    env = dict(os.environ, VANTO_SLURM_NODES="2x24105")
    env.pop("VANTO_WORKFLOW_PID", None)
    env.pop("USER", None)
    proc = subprocess.run([sys.executable, "-m", "snakemake", "-s", os.path.join(REPO, "workflow", "Snakefile"),
                           "--profile", PROFILE, "-n", "--config", f"samples={sheet}", f"out={work}/out",
                           "vanto=/bin/true", "--cores", "8"], cwd=work, env=env, capture_output=True, text=True)
    output = proc.stdout + proc.stderr
    check(proc.returncode == 0, f"dry run with USER unset: {output[-2000:]}")
    check("vanto workflow: series huge: not submitted: asks for 2 CPUs and 30000 MiB (mem_mb column)" in output,
          "the refused row is named at validation")
    check("rule refuse:" in output and "rule analyse:" in output, "the refused row fails alone, the other is planned")
    check("threads: 2" in output and "threads: 4" not in output, "the megapixel row's threads capped at the node")


def main():
    job_sizes()
    profiles()
    dry_run()
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all job size and profile checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
