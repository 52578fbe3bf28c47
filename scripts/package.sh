#!/usr/bin/env bash
# Builds the Debian package and prints its path as the last line: package.sh [--built] [BUILD_DIR [OUT_DIR]]
# --built: BUILD_DIR is already configured and built (the package test), only pack it.
# Everything but the path goes to standard error, so deb=$(scripts/package.sh) works.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
built=0
[ "${1:-}" = "--built" ] && { built=1; shift; }
dir=${1:-$root/build}
out=${2:-$dir/package}
if [ "$built" = 0 ]; then
  "$root/scripts/setup.sh" >&2
  cmake -S "$root" -B "$dir" -G Ninja >/dev/null
  cmake --build "$dir" --parallel "$(nproc)" --target vesperon >&2
fi
mkdir -p "$out"
cpack --config "$dir/CPackConfig.cmake" -B "$out" >&2
# cpack leaves its staging tree in _CPack_Packages; the newest .deb is this run's.
deb=$(ls -t "$out"/vesperon_*.deb | head -1)
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
