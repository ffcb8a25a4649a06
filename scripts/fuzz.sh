#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and UndefinedBehaviorSanitizer) into
# build-fuzz/ and runs each for SECONDS, one after the other (FUZZ_JOBS=2: side by side).
# Usage: scripts/fuzz.sh SECONDS [HARNESS...]   (harnesses: frame_loader command_line export_writers)
# Each starts from the generated seeds, the saved regressions in fuzz/regressions/HARNESS and
# the corpus that earlier runs grew in build-fuzz/corpus/HARNESS. A finding is written to
# build-fuzz/findings/ and makes the script fail; each harness's log is in build-fuzz/logs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: scripts/fuzz.sh SECONDS [HARNESS...]}
shift
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(frame_loader command_line export_writers)
dir=$root/build-fuzz
jobs=${FUZZ_JOBS:-1}

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTO_FUZZ=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_seeds "${harnesses[@]/#/fuzz_}"
rm -rf "$dir/seeds"
"$dir/fuzz_seeds" "$dir/seeds"
mkdir -p "$dir/findings" "$dir/logs"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# A frame file may declare any size: an input must stay within these limits to pass.
run_one() {
    local h=$1
    local extra=()
    [ -f "$root/fuzz/$h.dict" ] && extra+=(-dict="$root/fuzz/$h.dict")
    mkdir -p "$dir/corpus/$h" "$dir/seeds/$h" "$root/fuzz/regressions/$h"
    "$dir/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="$dir/findings/$h-" "${extra[@]}" \
        "$dir/corpus/$h" "$dir/seeds/$h" "$root/fuzz/regressions/$h" >"$dir/logs/$h.log" 2>&1
}

status=0
pids=()
for h in "${harnesses[@]}"; do
    if [ "$jobs" -gt 1 ]; then
        run_one "$h" & pids+=($!)
    else
        run_one "$h" || status=1
    fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done

for h in "${harnesses[@]}"; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/logs/$h.log" | tail -1)
    echo "fuzz_$h: ${runs:-?} executions in ${seconds} s"
done
if [ "$status" -ne 0 ]; then
    echo "fuzzing found a fault: see build-fuzz/logs and build-fuzz/findings" >&2
    grep -h -A3 -E "^==[0-9]+==ERROR|runtime error|frame loader fuzz:|command line fuzz:|export writers fuzz:" "$dir"/logs/*.log >&2 || true
fi
exit "$status"
