#!/usr/bin/env bash
# Checks vanto on a graphics card against the processor: builds, runs the compute tests on the
# card, analyses a generated series (every output on) once on the card and once on the
# processor (PoCL), compares every output byte for byte, and prints the milliseconds per frame
# of both and the benchmark's kernel figures on the card.
#
# Usage: scripts/gpu-check.sh [BUILD_DIR]   (default build-gpu; FRAMES, WIDTH, HEIGHT, CELLS
#        set the series: 20 frames of 1024 x 768 with 300 cells)
# Needs the card's OpenCL driver and PoCL (pocl-opencl-icd), each listed in /etc/OpenCL/vendors
# (or OPENCL_VENDOR_DIR); CARD_ICD names the card's .icd file there when there are several.
# vanto takes the first device of the first platform it is shown, so each run is shown one
# driver only, through OCL_ICD_VENDORS.
# Exit status: 0 all alike, 1 a difference or a failed step, 77 no card's driver or no PoCL.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-gpu}
frames=${FRAMES:-20}
width=${WIDTH:-1024}
height=${HEIGHT:-768}
cells=${CELLS:-300}
vendors=${OPENCL_VENDOR_DIR:-/etc/OpenCL/vendors}
work=$(mktemp -d "${TMPDIR:-/tmp}/vanto-gpu-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

say() { printf '%s\n' "gpu-check: $*"; }

# One folder per driver, each holding only that driver's .icd file.
pocl="" card=""
for icd in "$vendors"/*.icd; do
    [ -e "$icd" ] || continue
    name=$(basename "$icd" .icd)
    mkdir -p "$work/icd-$name"
    cp "$icd" "$work/icd-$name/"
    if [ -n "${CARD_ICD:-}" ]; then
        [ "$(basename "$CARD_ICD")" = "$name.icd" ] && card=$work/icd-$name
        if [ "$(basename "$CARD_ICD")" != "$name.icd" ] && grep -qi pocl "$icd"; then pocl=$work/icd-$name; fi
    elif grep -qi pocl "$icd" || [[ $name == *pocl* ]]; then
        pocl=$work/icd-$name
    elif [ -z "$card" ]; then
        card=$work/icd-$name
    fi
done
if [ -z "$card" ]; then say "no graphics card's OpenCL driver in $vendors"; exit 77; fi
if [ -z "$pocl" ]; then say "PoCL is not installed (apt-get install pocl-opencl-icd)"; exit 77; fi
say "card's driver: $(basename "$card"/*.icd), processor: $(basename "$pocl"/*.icd)"

say "building into $build"
"$root/scripts/build.sh" "$build" Release

say "compute tests on the card"
(cd "$build" && OCL_ICD_VENDORS=$card/ ./vanto_tests --gtest_brief=1 \
    --gtest_filter='Compute*:LabelReach*:ProgramCache*')

say "generating $frames frames of $width x $height with $cells cells"
options=$("$build/vanto_synth" --out "$work/series" --frames "$frames" --width "$width" --height "$height" \
          --cells "$cells" | tail -n 1)
# The options line ends with the words of the series; every output is added.
read -r -a words <<< "$options"

# Runs the series on the driver in $1 into $2; prints the wall milliseconds.
analyse() {
    local icd=$1 out=$2
    mkdir -p "$out/ctc"
    local start end
    start=$(date +%s%N)
    (cd "$out" && OCL_ICD_VENDORS=$icd/ VANTO_CACHE_DIR="$work/cache-$(basename "$icd")" "$build/vanto" \
        "${words[@]}" -image -id -voronoi -ctc "$out/ctc" -tracks -output "$out" > "$out/console.txt" \
        2> "$out/stderr.txt"; echo $? > "$out/status.txt")
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

# Times and the device's own lines masked, the run record left out, as the outputs compare.
mask() {
    local out=$1
    sed -i -E 's/Finished in [0-9]+/Finished in T/; /^(Platform|Device) name : /d' "$out/console.txt"
    [ -f "$out/_log.txt" ] && sed -i -E 's/Finished in [0-9]+/Finished in T/; /^(Platform|Device) name : /d' \
        "$out/_log.txt"
    [ -f "$out/_average.csv" ] && awk -F, 'BEGIN{OFS=","} NR>2{$2="T"} {print}' "$out/_average.csv" \
        > "$out/_average.tmp" && mv "$out/_average.tmp" "$out/_average.csv"
    rm -f "$out/_run.json"
}

# A first run on each fills the program caches, so that the timed runs below measure frames.
analyse "$card" "$work/warm-card" > /dev/null
analyse "$pocl" "$work/warm-cpu" > /dev/null
card_ms=$(analyse "$card" "$work/card")
cpu_ms=$(analyse "$pocl" "$work/cpu")
say "card:      $(grep -m1 '^Device name' "$work/card/console.txt" || true)"
say "processor: $(grep -m1 '^Device name' "$work/cpu/console.txt" || true)"
mask "$work/card"
mask "$work/cpu"

status=0
if [ "$(cat "$work/card/status.txt")" != 0 ]; then
    say "the run on the card ended with status $(cat "$work/card/status.txt"):"
    head -5 "$work/card/stderr.txt"
    status=1
fi
if ! diff -r "$work/cpu" "$work/card" > "$work/diff.txt" 2>&1; then
    say "the outputs differ between the card and the processor:"
    head -40 "$work/diff.txt"
    status=1
else
    say "every output of the $frames frames is the same on the card and on the processor"
fi
awk -v f="$frames" -v c="$card_ms" -v p="$cpu_ms" 'BEGIN {
    printf "gpu-check: whole run, ms per frame (start-up included): card %.1f, processor %.1f\n", c / f, p / f }'

say "benchmark on the card (addtwo and addone run there)"
(cd "$build" && OCL_ICD_VENDORS=$card/ ./vanto_bench --frames 10 --growth 0) | \
    grep -E '^(Device name|series|addtwo|addone|frame total|addtwo:|whole runs|reports only|every output|start-up)' || true

if [ $status = 0 ]; then say "OK"; else say "FAILED"; fi
exit $status
