#!/usr/bin/env bash
# bench_program.sh [--seconds S] [--program PATH]
#
# What the whole program costs: vesperon with its window (on a private Xvfb when no display is
# given), the schedule on (one period hours away, so nothing fires), through a private
# PulseAudio and session bus. Measured over S seconds (60) each: playing a long track, then
# stopped. Prints the share of one core it used and its wake-ups (voluntary context switches)
# per second, from /proc (CPU in clock ticks, so about 0.02 % of a core over a minute).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=60 program=""
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --program) program=$2; shift 2 ;;
        *) echo "usage: bench_program.sh [--seconds S] [--program PATH]" >&2; exit 2 ;;
    esac
done
[ -n "$program" ] || program=$here/../build/app/vesperon
[ -x "$program" ] || { echo "bench_program: $program not found (--program PATH)" >&2; exit 1; }
for tool in pulseaudio pactl playerctl dbus-run-session sox lame Xvfb; do
    command -v $tool >/dev/null || { echo "bench_program: $tool missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/bench-program-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

sox -n -r 44100 -c 2 "$work/long.wav" synth 300 sine 440 pinknoise vol 0.5
lame --quiet -b 128 "$work/long.wav" "$work/long.mp3"
rm "$work/long.wav"
# One period starting 6 hours from now (local time), a second long.
at=$(date -d "+6 hours" +%H)
cat > "$work/session.json" <<EOF
{"version": 1, "playlist": ["$work/long.mp3"],
 "periods": [{"from": ["$at", "0", "0"], "to": ["$at", "0", "1"]}],
 "random": false, "loop": true, "schedule": true}
EOF

mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime PULSE_SERVER=unix:$work/runtime/native HOME=$work
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
    --load="module-null-sink sink_name=bench" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$work/runtime/native" >/dev/null 2>&1 &
pids+=($!)
if [ -z "${DISPLAY:-}" ]; then
    display=:$((50 + RANDOM % 40))
    Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=$display
fi
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done

export WORK=$work SECONDS_EACH=$seconds PROGRAM=$program
dbus-run-session -- bash -c '
    set -eu
    QT_QPA_PLATFORM=xcb "$PROGRAM" --session "$WORK/session.json" >/dev/null 2>"$WORK/err" &
    app=$!
    for _ in $(seq 300); do [ "$(playerctl -p vesperon status 2>/dev/null)" = Stopped ] && break; sleep 0.1; done
    ticks() { awk "{print \$14 + \$15}" /proc/$app/stat; }
    wakeups() { cat /proc/$app/task/*/status | awk "/^voluntary_ctxt_switches/ {n += \$2} END {print n}"; }
    measure() {
        local t0 w0 c0
        sleep 5
        t0=$(date +%s.%N) c0=$(ticks) w0=$(wakeups)
        sleep "$SECONDS_EACH"
        awk -v t0=$t0 -v t1=$(date +%s.%N) -v c0=$c0 -v c1=$(ticks) -v w0=$w0 -v w1=$(wakeups) \
            -v hz=$(getconf CLK_TCK) -v what="$1" \
            "BEGIN {s = t1 - t0; printf \"%-28s %6.1f s  CPU %.2f s = %.3f %% of a core  wake-ups of the live threads %.1f/s\n\", what, s, (c1 - c0) / hz, 100 * (c1 - c0) / hz / s, (w1 - w0) / s}"
    }
    playerctl -p vesperon play
    measure "playing, schedule on"
    playerctl -p vesperon stop
    measure "stopped, schedule on"
    kill $app
    wait $app || true
'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
