#!/bin/bash
# soak.sh [--hours H | --minutes M] [--slope-hours N] [--warmup-minutes W] [--build DIR] [--out DIR]
#         [--engine] [--output pulse|alsa|null] [--wrap "heaptrack -o FILE"]
#
# Plays short tracks of several formats (44.1 kHz stereo and 22.05 kHz mono Layer III, 48 kHz
# Layer II, ...) in a loop through the real program for H hours (default 3; 0 runs until Ctrl+C),
# on a private Xvfb, PulseAudio null sink and session bus, polling MPRIS with playerctl every
# second, and prints the program's RSS, descriptors and threads every minute with the slope of
# RSS (least squares, MB an hour) over the last N hours (default 2), counted after W minutes of
# warm-up (default 5). Every sample goes to OUT/rss.log; the summary's last line is the slope.
# RSS also counts the libraries' mapped pages, which a loaded machine's page cache takes away and
# gives back in steps of about half a MB; the anonymous part (heap, arenas, stacks), which a leak
# would grow, is logged beside it with its own slope.
# --engine plays through build/tools/vesperon-play --per-file (the engine alone, one player per
# track as the window makes them) instead of the window. The sound goes into the server's null
# sink through libpulse (--output pulse, the default, as a desktop with a server plays) or ALSA
# (--output alsa); --output null plays to the null output (real-time pace, no sound server).
# --wrap runs the program under a tool (a heap profiler); RSS is then the program's alone.
# Needs sox, lame, twolame, pulseaudio, pactl; for the window also Xvfb, xdpyinfo, dbus-daemon,
# playerctl.

set -u
minutes=180 slopeHours=2 warmup=5 engine=0 wrap="" output=pulse
build="$(cd "$(dirname "$0")/.." && pwd)/build"
out=""
while [ $# -gt 0 ]; do
    case "$1" in
        --hours) minutes=$(($2 * 60)); shift ;;
        --minutes) minutes=$2; shift ;;
        --slope-hours) slopeHours=$2; shift ;;
        --warmup-minutes) warmup=$2; shift ;;
        --build) build=$2; shift ;;
        --out) out=$2; shift ;;
        --engine) engine=1 ;;
        --wrap) wrap=$2; shift ;;
        --output) output=$2; shift ;;
        *) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
    shift
done
[ -n "$out" ] || out=$(mktemp -d /tmp/vesperon-soak.XXXXXX)
mkdir -p "$out/tracks" "$out/run"
chmod 700 "$out/run"
out=$(cd "$out" && pwd)
log="$out/rss.log"
: > "$log"

for p in sox lame twolame; do command -v $p >/dev/null || { echo "soak: $p is missing" >&2; exit 1; }; done
needs="pulseaudio pactl"
[ $engine = 0 ] && needs="$needs Xvfb xdpyinfo dbus-daemon playerctl"
[ "$output" = null ] && [ $engine = 1 ] && needs=""
for p in $needs; do command -v $p >/dev/null || { echo "soak: $p is missing" >&2; exit 1; }; done

# rate channels encoder bitrate ("v" for lame's VBR), seconds: 20 tracks of 2 to 6 s.
i=0
while read -r rate ch enc kbps secs; do
    i=$((i + 1))
    name=$(printf "%02d_%s_%sch_%s" $i $rate $ch $enc)
    wav="$out/tracks/$name.wav"
    sox -D -n -r $rate -c $ch -b 16 "$wav" synth $secs sine $((220 + 37 * i)) vol 0.4 || exit 1
    case $enc in
        l3) if [ $kbps = v ]; then lame --quiet -V 4 "$wav" "$out/tracks/$name.mp3"; else lame --quiet -b $kbps "$wav" "$out/tracks/$name.mp3"; fi ;;
        l2) twolame --quiet -b $kbps "$wav" "$out/tracks/$name.mp3" ;;
    esac || exit 1
    rm -f "$wav"
done <<'EOF'
44100 2 l3 128 3
22050 1 l3 64 4
48000 2 l2 192 3
32000 1 l2 96 5
11025 1 l3 32 4
44100 2 l3 v 6
24000 2 l3 96 3
48000 1 l2 64 2
44100 1 l3 96 4
16000 1 l3 32 3
44100 2 l2 192 5
22050 2 l3 64 3
48000 2 l3 160 4
8000 1 l3 16 2
32000 2 l3 112 3
44100 2 l3 320 2
24000 1 l2 48 4
22050 2 l2 96 3
12000 1 l3 24 5
44100 2 l3 v 3
EOF
tracks=("$out"/tracks/*.mp3)

pids=()
# The program first, and only once it has ended, the servers it uses.
cleanup() {
    for ((k = ${#pids[@]} - 1; k >= 0; k--)); do
        kill "${pids[k]}" 2>/dev/null
        for _ in $(seq 50); do kill -0 "${pids[k]}" 2>/dev/null || break; sleep 0.1; done
    done
}
trap 'cleanup; exit 0' INT TERM
trap cleanup EXIT

# The slope (MB an hour) over the samples from `from` seconds on of column 2 (RSS) or the one
# given (5: anonymous); "n/a" with too few.
slope() {
    awk -v from="$1" -v col="${2:-2}" '$1 >= from && $col != "" { n++; x = $1 / 3600; y = $col / 1024; sx += x; sy += y; sxx += x * x; sxy += x * y }
        END { d = n * sxx - sx * sx; if (n < 3 || d <= 0) print "n/a"; else printf "%+.3f\n", (n * sxy - sx * sy) / d }' "$log"
}

# The sound server, for the window and for the engine's pulse or ALSA output alike.
if [ "$output" != null ]; then
    export XDG_RUNTIME_DIR="$out/run" HOME="$out/run" PULSE_SERVER="unix:$out/run/native"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        "--load=module-null-sink sink_name=soak" \
        "--load=module-native-protocol-unix auth-anonymous=1 socket=$out/run/native" > "$out/run/pulse.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.2; done
    pactl set-default-sink soak
fi
if [ $engine = 1 ]; then
    VESPERON_AUDIO_OUTPUT=$output $wrap "$build/tools/vesperon-play" --per-file --count 0 "${tracks[@]}" > "$out/run/play.out" 2>&1 &
    pid=$!
    pids+=($pid)
else
    # Xvfb on the first free display from 150.
    for n in $(seq 150 250); do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
        Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp -noreset > "$out/run/xvfb.log" 2>&1 &
        pids+=($!)
        export DISPLAY=:$n
        break
    done
    # The daemon forks once it listens, after printing its address and its pid.
    busInfo=$(dbus-daemon --session --address="unix:path=$out/run/bus" --fork --print-address=1 --print-pid=1)
    export DBUS_SESSION_BUS_ADDRESS=$(echo "$busInfo" | sed -n 1p)
    pids=("$(echo "$busInfo" | sed -n 2p)" "${pids[@]}")
    for _ in $(seq 100); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.2; done
    VESPERON_AUDIO_OUTPUT=$output $wrap "$build/app/vesperon" --session "$out/run/session.json" "${tracks[@]}" \
        > "$out/run/vesperon.log" 2>&1 &
    pid=$!
    pids+=($pid)
    for _ in $(seq 150); do [ -n "$(playerctl -p vesperon status 2>/dev/null)" ] && break; sleep 0.2; done
    playerctl -p vesperon play
fi
if [ -n "$wrap" ]; then
    # The program runs as the tool's child.
    name=vesperon
    [ $engine = 1 ] && name=vesperon-play
    for _ in $(seq 100); do child=$(pgrep -P $pid -x $name | head -1); [ -n "$child" ] && break; sleep 0.1; done
    pid=${child:-$pid}
fi
echo "soak: pid $pid, $(( ${#tracks[@]} )) tracks, samples in $log"
echo "# seconds rss_kB fds threads anon_kB file_kB"

start=$(date +%s)
polls=0 restarts=0 next=0 changes=0 title=""
while kill -0 $pid 2>/dev/null; do
    now=$(date +%s)
    t=$((now - start))
    [ "$minutes" != 0 ] && [ $t -ge $((minutes * 60)) ] && break
    if [ $engine = 0 ]; then
        # What an applet does: ask the state, the title and the position every second.
        state=$(playerctl -p vesperon status 2>/dev/null)
        shown=$(playerctl -p vesperon metadata xesam:title 2>/dev/null)
        playerctl -p vesperon position > /dev/null 2>&1
        polls=$((polls + 1))
        [ "$shown" != "$title" ] && changes=$((changes + 1)) && title=$shown
        if [ "$state" = Stopped ]; then playerctl -p vesperon play; restarts=$((restarts + 1)); fi
    fi
    if [ $t -ge $next ]; then
        next=$((next + 60))
        read -r rss thr anon file < <(awk '/^VmRSS/ { r = $2 } /^Threads/ { t = $2 } /^RssAnon/ { a = $2 }
            /^RssFile/ { f = $2 } END { print r, t, a, f }' /proc/$pid/status)
        fds=$(ls /proc/$pid/fd | wc -l)
        echo "$t $rss $fds $thr $anon $file" >> "$log"
        from=$((t - slopeHours * 3600))
        [ $from -lt $((warmup * 60)) ] && from=$((warmup * 60))
        printf "%6d min  RSS %7.1f MB (anonymous %5.1f)  fds %3d  threads %3d  slope %s (anonymous %s) MB/h since %d min\n" \
            $((t / 60)) "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$(awk -v k="$anon" 'BEGIN { print k / 1024 }')" \
            "$fds" "$thr" "$(slope $from)" "$(slope $from 5)" $((from / 60))
    fi
    sleep 1
done
kill -0 $pid 2>/dev/null || echo "soak: the program ended early (see $out/run)"
t=$(($(date +%s) - start))
from=$((t - slopeHours * 3600))
[ $from -lt $((warmup * 60)) ] && from=$((warmup * 60))
echo "soak: $((t / 60)) min, $polls MPRIS polls, $changes track changes seen, $restarts restarts after a stop"
echo "soak: RSS $(head -1 "$log" | awk '{ printf "%.1f", $2 / 1024 }') MB at the start, $(tail -1 "$log" | awk '{ printf "%.1f", $2 / 1024 }') MB at the end"
echo "soak: anonymous $(sed -n 1p "$log" | awk '{ printf "%.1f", $5 / 1024 }') MB at the start, $(tail -1 "$log" | awk '{ printf "%.1f", $5 / 1024 }') MB at the end; its slope $(slope $from 5) MB/h"
echo "soak: slope over the last $slopeHours h (from minute $((from / 60))): $(slope $from) MB/h"
