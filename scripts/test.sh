#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite twice: in the normal build and
# in a build with AddressSanitizer and UndefinedBehaviorSanitizer; then the threaded tests in
# a build with ThreadSanitizer, and the loader and command-line fuzz harnesses for a minute
# (FUZZ_SECONDS), side by side, then the export harness for 20 seconds (FUZZ_EXPORT_SECONDS).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh" --test

"$root/scripts/build.sh" "$root/build" Release
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

"$root/scripts/build.sh" "$root/build-asan" RelWithDebInfo -DVANTO_SANITIZE=ON
# The OpenCL runtime's own libraries leak at exit; nothing of the project is suppressed.
# LeakSanitizer's scan of dynamic thread-local storage crashes on the runtime's dlopen'ed
# device libraries (a bogus DTLS range), so thread-local storage is not scanned (use_tls=0).
# Tests that read a child run's standard error line by line must not see the list of
# suppressions used (print_suppressions=0).
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/.ci/lsan.supp:use_tls=0:print_suppressions=0
(cd "$root/build-asan" && ctest --output-on-failure -j"$jobs")

# The threaded tests under ThreadSanitizer: only the test program is built, and only the runs
# of a small generated series with unreadable frames and a run interrupted while frames ahead
# are being segmented; FramePipeline.* covers leaving the frame loop early, as the limit stops
# do, and the main thread segmenting while workers are held.
cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTO_TSAN=ON >/dev/null
cmake --build "$root/build-tsan" -j"$jobs" --target vanto_run_tests
# PoCL's pthread device unlocks mutexes from threads other than the locking one, which overflows
# the lock-order (deadlock) detector's bookkeeping; races are still reported (detect_deadlocks=0).
export TSAN_OPTIONS=halt_on_error=1:detect_deadlocks=0:suppressions=$root/.ci/tsan.supp
(cd "$root/build-tsan" && ./vanto_run_tests --gtest_filter='FramePipeline.*:ThreadCounts.GeneratedSeries*:ThreadCounts.AnInterrupted*')

FUZZ_JOBS=2 "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}" frame_loader command_line
# The export harness writes files for every input: a short smoke run of its own.
"$root/scripts/fuzz.sh" "${FUZZ_EXPORT_SECONDS:-20}" export_writers
