#!/usr/bin/env bash
# Configures and builds into build/ (Release), or into the folder and build type given.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
type=${2:-Release}
shift $(( $# > 2 ? 2 : $# )) || true
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
