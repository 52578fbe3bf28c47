#!/usr/bin/env bash
# Sets up, builds the program (only it and what it needs) and starts it: run.sh [vesperon args...]
# scripts/test.sh builds everything else.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VESPERON_BUILD_DIR:-$root/build}

# Without a display the window cannot open: say so before minutes of building, not after.
no_window=0
for a in "$@"; do
  [ "$a" = "--" ] && break
  [ "$a" = "--no-window" ] && no_window=1
done
display_ok() {
  [ -n "${WAYLAND_DISPLAY:-}" ] && [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$WAYLAND_DISPLAY" ] && return 0
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null; then
    xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
  elif [[ "$DISPLAY" =~ ^:([0-9]+) ]]; then
    [ -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]
  else
    return 0  # a remote display: let the program find out
  fi
}
case "${QT_QPA_PLATFORM:-}" in offscreen*|minimal*|vnc*) no_window=1 ;; esac
if [ "$no_window" = 0 ] && ! display_ok; then
  cat >&2 <<MSG
run.sh: no display to open the window on (${DISPLAY:+cannot connect to DISPLAY=$DISPLAY}${DISPLAY:-DISPLAY and WAYLAND_DISPLAY are not set}).
Start it inside a desktop session, or on a virtual X server:
    Xvfb :99 & DISPLAY=:99 ./scripts/run.sh [FILE...]
or without a window (the schedule and MPRIS still run; state kept in the session file):
    ./scripts/run.sh --no-window --session FILE
MSG
  exit 1
fi

"$root/scripts/setup.sh"
cmake -S "$root" -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --parallel "$(nproc)" --target vesperon
exec "$dir/app/vesperon" "$@"
