#!/usr/bin/env bash
# bench_players.sh [--runs N] [--seconds S] [--play PATH] [FILE.mp3]
#
# What playing one file costs, through one private PulseAudio (a null sink), for vesperon-play
# beside the peers `mpg123 -o pulse` (the same MP3) and `paplay` (its WAV, decoded by mpg123), in
# one run: context switches per second (voluntary, that is wake-ups, and in all), CPU per minute
# of audio, the most threads seen, peak memory. Each player runs N times (3) in turn, niced alike.
# Without FILE: a S-second (60) tone and noise mix at 128 kbit/s, made with sox and lame.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=3 seconds=60 file="" play=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --play) play=$2; shift 2 ;;
        *) file=$1; shift ;;
    esac
done
for p in "$here/../build/tools/vesperon-play" "$(dirname "$0")/vesperon-play"; do
    [ -z "$play" ] && [ -x "$p" ] && play=$(cd "$(dirname "$p")" && pwd)/vesperon-play
done
[ -x "$play" ] || { echo "bench_players: vesperon-play not found (--play PATH)" >&2; exit 1; }
for tool in pulseaudio paplay mpg123 sox lame python3; do
    command -v $tool >/dev/null || { echo "bench_players: $tool missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/bench-players-XXXXXX)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "$file" ]; then
    file=$work/tone.mp3
    sox -n -r 44100 -c 2 "$work/tone.wav" synth "$seconds" sine 440 pinknoise vol 0.5
    lame --quiet -b 128 "$work/tone.wav" "$file"
fi
mpg123 -q -w "$work/decoded.wav" "$file"
audio=$(soxi -D "$work/decoded.wav")

# A private server, as the e2e tests start one.
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime PULSE_SERVER=unix:$work/runtime/native
unset DISPLAY WAYLAND_DISPLAY
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
    --load="module-null-sink sink_name=bench" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$work/runtime/native" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "bench_players: pulseaudio did not start" >&2; exit 1; }

echo "file: $file ($audio s of audio); $runs runs each; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
VESPERON_AUDIO_OUTPUT=pulse python3 - "$runs" "$audio" "$play" "$file" "$work/decoded.wav" <<'EOF'
import os, sys, time
runs, audio = int(sys.argv[1]), float(sys.argv[2])
players = [("vesperon-play", [sys.argv[3], sys.argv[4]]),
           ("mpg123 -o pulse", ["mpg123", "-q", "-o", "pulse", sys.argv[4]]),
           ("paplay (WAV)", ["paplay", sys.argv[5]])]

def measure(argv):
    t0 = time.monotonic()
    pid = os.fork()
    if pid == 0:
        os.nice(5)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        try:
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    threads, peak = 0, 0.0
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("Threads:"):
                        threads = max(threads, int(line.split()[1]))
                    elif line.startswith("VmHWM:"):  # since exec, unlike ru_maxrss
                        peak = max(peak, int(line.split()[1]) / 1024.0)
        except OSError:
            pass
        time.sleep(0.25)
    wall = time.monotonic() - t0
    return dict(code=os.waitstatus_to_exitcode(status), wall=wall, cpu=usage.ru_utime + usage.ru_stime,
                vol=usage.ru_nvcsw, all=usage.ru_nvcsw + usage.ru_nivcsw, threads=threads,
                rss=peak)

print(f"{'player':18} {'run':>3} {'wall s':>7} {'wake-ups/s':>10} {'switches/s':>10} {'CPU s/min':>9} "
      f"{'threads':>7} {'peak MB':>7}")
for run in range(1, runs + 1):
    for name, argv in players:
        m = measure(argv)
        note = "" if m["code"] == 0 else f"  (exit {m['code']})"
        print(f"{name:18} {run:>3} {m['wall']:7.2f} {m['vol'] / m['wall']:10.1f} {m['all'] / m['wall']:10.1f} "
              f"{m['cpu'] * 60 / audio:9.3f} {m['threads']:7d} {m['rss']:7.1f}{note}", flush=True)
EOF
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
