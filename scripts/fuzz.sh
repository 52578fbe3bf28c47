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
  # Seeds: a folder fuzz/seeds/<target>/, and the files or folders listed in fuzz/<target>.seeds
  # (paths relative to the checkout), gathered into one folder since libFuzzer wants folders.
  seeddir="$dir/seeds-$name"
  rm -rf "$seeddir" && mkdir -p "$seeddir"
  [ -d "$root/fuzz/seeds/$name" ] && cp -r "$root/fuzz/seeds/$name/." "$seeddir/"
  if [ -f "$root/fuzz/$name.seeds" ]; then
    while read -r s; do
      [ -n "$s" ] || continue
      if [ -d "$root/$s" ]; then cp -r "$root/$s/." "$seeddir/"; elif [ -f "$root/$s" ]; then cp "$root/$s" "$seeddir/"; fi
    done < "$root/fuzz/$name.seeds"
  fi
  echo "== $name for ${seconds}s" >&2
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -max_len=65536 -artifact_prefix="$dir/$name-" "$corpus" "$seeddir" 2> "$dir/$name.log"; then
    tail -50 "$dir/$name.log" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$dir/$name.log" | tail -2 >&2 || true
  fi
done
exit $status
