#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET]
# A longer run: scripts/fuzz.sh build-fuzz 3600
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-fuzz}
seconds=${2:-30}
status=0
shopt -s nullglob
for target in "$dir"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/$name" ] && seeds+=("$root/fuzz/seeds/$name")
  [ -f "$root/fuzz/$name.seeds" ] && while read -r s; do seeds+=("$root/$s"); done < "$root/fuzz/$name.seeds"
  echo "== $name for ${seconds}s" >&2
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$dir/$name-" "$corpus" "${seeds[@]}" 2> "$dir/$name.log"; then
    tail -50 "$dir/$name.log" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$dir/$name.log" | tail -2 >&2 || true
  fi
done
exit $status
