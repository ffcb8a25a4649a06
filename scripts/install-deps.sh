#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when one is missing.
# Usage: scripts/install-deps.sh [--test] [--workflow] [--measure]
#   (none)      what building and running the program needs
#   --test      also what the whole test suite needs (sanitizer and fuzz builds, the workflow,
#               a one-node SLURM cluster for the workflow's cluster test, headless chromium
#               for the review pages)
#   --workflow  also what the batch workflow, the plots and the review pages need (Snakemake,
#               numpy, pandas, matplotlib, Pillow, tifffile, PyYAML)
#   --measure   also what the quality measurements of docs/quality.md need: scikit-image for
#               scripts/skimage-baseline, the yardstick pipeline (optional; no test needs it)
set -euo pipefail

packages=(g++ make cmake python3 libgtest-dev libtiff-dev libpng-dev libdeflate-dev zlib1g-dev ocl-icd-opencl-dev opencl-headers
          pocl-opencl-icd nlohmann-json3-dev)
workflow=(snakemake python3-numpy python3-pandas python3-matplotlib python3-pil python3-tifffile python3-yaml)
measure=(python3-skimage "${workflow[@]}")
slurm=(slurmctld slurmd slurm-client munge)
# chromium and python3-websocket: the review pages are opened in a headless browser.
testing=(clang libfuzzer-14-dev libclang-rt-14-dev chromium python3-websocket "${workflow[@]}" "${slurm[@]}")

for arg in "$@"; do
    case "$arg" in
        --test) packages+=("${testing[@]}") ;;
        --workflow) packages+=("${workflow[@]}") ;;
        --measure) packages+=("${measure[@]}") ;;
        *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
