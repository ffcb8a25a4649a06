#!/usr/bin/env bash
# Installs what is missing, builds, generates a synthetic series and analyses it with every
# diagnostic bitmap. Usage: scripts/demo.sh [output folder]   (default: out/demo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out/demo}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" Release

frames=60
mkdir -p "$out/frames" "$out/results"
"$root/build/vanto_synth" --out "$out/frames" --frames "$frames" --width 320 --height 240 --cells 40 --seed 1 \
    --prefix frame >/dev/null
"$root/build/vanto" -source "$out/frames/frame_^04d.png" -w 320 -h 240 -count "$frames" \
    -threshold 20 -size 56 -output "$out/results" -image -id -voronoi

echo
echo "Frames:  $out/frames/frame_0001.png ... frame_$(printf %04d "$frames").png"
echo "Reports: $out/results/_cell.csv, $out/results/_average.csv, log $out/results/_log.txt"
echo "Bitmaps: $out/results/10_Calculation_*.bmp, $out/results/12_Voronoi_*.bmp"
