#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (every label), the same tests again
# under AddressSanitizer + UndefinedBehaviorSanitizer and the concurrency stress under
# ThreadSanitizer, and a short bounded run of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/setup.sh"

status=0
run() { echo "== $*" >&2; "$@" || status=1; }

"$root/scripts/build.sh" "$root/build"
run ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

"$root/scripts/build.sh" "$root/build-asan" -DVESPERON_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -L 'unit|conformance|stress'

"$root/scripts/build.sh" "$root/build-tsan" -DVESPERON_SANITIZE=thread -DVESPERON_GUI=OFF -DCMAKE_BUILD_TYPE=Debug
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -L 'stress'

CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-fuzz" -DVESPERON_FUZZ=ON -DVESPERON_GUI=OFF
run "$root/scripts/fuzz.sh" "$root/build-fuzz" "${VESPERON_FUZZ_SECONDS:-30}"

exit $status
