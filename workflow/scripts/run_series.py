"""One series: runs the program into the series' folder, keeps its console and standard error
in the job log, and records the command, exit status and time in _job.json. Status 0 and 2
(finished, with unreadable frames named in the run record) complete the job; any other status
fails it with the program's own message. Called by the Snakefile's analyse rule."""

import json
import os
import shlex
import shutil
import subprocess
import sys
import time

# The program's progress lines on standard error; they stay in the job log only.
PROGRESS_MARK = "frames/s"

sm = snakemake  # noqa: F821 (set by Snakemake)
name = sm.wildcards.name
out_dir = os.path.dirname(sm.output.average)
os.makedirs(out_dir, exist_ok=True)
os.makedirs(os.path.dirname(sm.log[0]), exist_ok=True)
# The job's thread share first, so that a -threads in the sheet's extra options still wins.
command = ([sm.params.program, "-threads", str(sm.threads)] + list(sm.params.options)
           + ["-output", out_dir, "-progress"])
# The ctc column: the masks go into the series' own folder, emptied first (the program takes
# only an empty or missing one, and a rerun replaces the earlier run's masks).
if sm.params.ctc:
    ctc_dir = os.path.abspath(os.path.join(out_dir, "ctc"))
    shutil.rmtree(ctc_dir, ignore_errors=True)
    command += ["-ctc", ctc_dir]

started = time.time()
with open(sm.log[0], "w", encoding="utf-8", errors="replace") as log:
    # Shell-quoted, so that the line can be pasted into a shell as it stands.
    log.write("$ " + shlex.join(command) + "\n")
    log.flush()
    proc = subprocess.run(command, stdout=log, stderr=subprocess.PIPE, text=True, errors="replace")
    log.write(proc.stderr)
seconds = time.time() - started

# The program's status for a run that finished with unreadable frames.
FINISHED_WITH_GAPS = 2

if proc.returncode not in (0, FINISHED_WITH_GAPS):
    messages = [line for line in proc.stderr.splitlines() if PROGRESS_MARK not in line]
    print(f"series {name}: {os.path.basename(sm.params.program)} exited with status {proc.returncode}"
          + (":" if messages else " (no message)"), file=sys.stderr)
    for line in messages:
        print(f"series {name}:   {line}", file=sys.stderr)
    print(f"series {name}: console and standard error in {os.path.abspath(sm.log[0])}", file=sys.stderr)
    sys.exit(1)

record = {
    "series": name,
    "command": command,
    "exit_status": proc.returncode,
    "seconds": round(seconds, 3),
    "started": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(started)),
}
with open(sm.output.job, "w", encoding="utf-8") as f:
    json.dump(record, f, indent=1)
    f.write("\n")
