#!/usr/bin/env bash
# Decoding speed of vesperon-decode against mpg123 on the same file, in the same run.
#   tools/bench_decode.sh [--layer 3|2] [--repeat N] [--decoder PATH] [--file MP3]
# Layer 3 (default): a 3-minute 128 kbit/s joint-stereo file made with lame.
# Layer 2: a 3-minute 192 kbit/s stereo file made with twolame.
# Without --decoder, vesperon-decode is built (RelWithDebInfo) in build-bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
layer=3
repeat=5
decoder=""
file=""
while [ $# -gt 0 ]; do
    case "$1" in
        --layer) layer=$2; shift 2 ;;
        --repeat) repeat=$2; shift 2 ;;
        --decoder) decoder=$2; shift 2 ;;
        --file) file=$2; shift 2 ;;
        *) echo "usage: $0 [--layer 3|2] [--repeat N] [--decoder PATH] [--file MP3]" >&2; exit 2 ;;
    esac
done
for tool in sox mpg123; do
    command -v "$tool" >/dev/null || { echo "bench_decode: $tool is not installed" >&2; exit 1; }
done

if [ -z "$decoder" ]; then
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build-bench" --target vesperon-decode >/dev/null
    decoder=$(find "$root/build-bench" -name vesperon-decode -type f -perm -u+x | head -n 1)
fi
[ -x "$decoder" ] || { echo "bench_decode: no vesperon-decode at '$decoder'" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=180
if [ -z "$file" ]; then
    # Music-like source: tones, sweeps, noise bursts and a low square, mixed.
    sox -m "|sox -n -r 44100 -c 2 -p synth $seconds sine 220 sine 331 gain -10" \
        "|sox -n -r 44100 -c 2 -p synth $seconds sine 100-9000 sine 9000-100 gain -14" \
        "|sox -n -r 44100 -c 2 -p synth $seconds pinknoise pinknoise tremolo 2 100 gain -16" \
        "|sox -n -r 44100 -c 2 -p synth $seconds square 60 square 90 tremolo 1 100 gain -20" \
        -b 16 "$work/src.wav"
    if [ "$layer" = 2 ]; then
        command -v twolame >/dev/null || { echo "bench_decode: twolame is not installed" >&2; exit 1; }
        file="$work/bench.mp2"
        twolame --quiet -b 192 -m s "$work/src.wav" "$file"
    else
        command -v lame >/dev/null || { echo "bench_decode: lame is not installed" >&2; exit 1; }
        file="$work/bench.mp3"
        lame --silent -b 128 -m j "$work/src.wav" "$file"
    fi
else
    seconds=$(soxi -D "$file" 2>/dev/null | cut -d. -f1)
fi

echo "file: $file ($(stat -c %s "$file") bytes, about $seconds s), layer $layer, $repeat runs each"

# Ours: the tool reports its own figure (decoding only, no output written).
ours=$("$decoder" --bench --repeat "$repeat" "$file" 2>&1 | grep '^speed:' || true)
[ -n "$ours" ] || { echo "bench_decode: vesperon-decode gave no speed figure" >&2; exit 1; }
ours_cpu=$(echo "$ours" | sed -n 's/.*, \([0-9.]*\) x real time (CPU).*/\1/p')
ours_wall=$(echo "$ours" | sed -n 's/speed: \([0-9.]*\) x real time (wall).*/\1/p')

# The peer: test mode decodes without output; CPU time of all runs.
start=$(date +%s.%N)
cpu=$( { /usr/bin/time -f "%U %S" bash -c "for i in \$(seq $repeat); do mpg123 -q -t '$file'; done" ; } 2>&1 | tail -n 1)
end=$(date +%s.%N)
peer_cpu=$(echo "$cpu $seconds $repeat" | awk '{ t = $1 + $2; if (t <= 0) t = 0.001; printf "%.1f", $3 * $4 / t }')
peer_wall=$(echo "$start $end $seconds $repeat" | awk '{ t = $2 - $1; printf "%.1f", $3 * $4 / t }')

echo "vesperon-decode: ${ours_wall} x real time (wall), ${ours_cpu} x real time (CPU)"
echo "mpg123 -t:       ${peer_wall} x real time (wall), ${peer_cpu} x real time (CPU)"
echo "$ours_cpu $peer_cpu $ours_wall $peer_wall" | awk '{ printf "ratio vesperon/mpg123: %.2f (CPU), %.2f (wall)\n", $1 / $2, $3 / $4 }'
