#!/usr/bin/env bash
# first_sound_under_load.sh [RUNS] [BUILD_DIR]
#
# The first sound of vesperon-play against paplay's, RUNS times (20) beside two busy loops, each
# in a session of its own: the sound-server e2e test that records both from the sink's monitor
# prints the figure ("first sound +N ms against paplay"); this prints one per run and how many
# came within 20 ms.
set -euo pipefail
runs=${1:-20}
build=${2:-$(cd "$(dirname "$0")/.." && pwd)/build}
test=$build/tests/player/sound_server_e2e_tests
[ -x "$test" ] || { echo "first_sound_under_load: $test not built" >&2; exit 1; }
setsid sh -c 'while :; do :; done' & busy1=$!
setsid sh -c 'while :; do :; done' & busy2=$!
trap 'kill $busy1 $busy2 2>/dev/null' EXIT
within=0
for _ in $(seq "$runs"); do
    ms=$("$test" --gtest_filter='*TracksOfOneTone*' 2>&1 | sed -nE 's/^seam \(20 ms.*first sound ([+-][0-9]+) ms.*/\1/p')
    printf '%s ' "${ms:-?}"
    [ -n "$ms" ] && [ "$ms" -le 20 ] && within=$((within + 1))
done
echo
echo "$within of $runs within 20 ms of paplay's first sound"
