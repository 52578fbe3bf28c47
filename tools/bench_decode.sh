#!/usr/bin/env bash
# Decoding speed of vesperon-decode against mpg123 on seven kinds of file, in the same run.
#   tools/bench_decode.sh [--runs N] [--seconds S] [--decoder PATH] [--dir DIR] [--only K]
# All seven files are encoded from one synthetic 44.1 kHz source (sox, lame, twolame). Each
# figure is the fastest of N runs (default 9) of the whole process's CPU time (user + system):
# `vesperon-decode --raw IN /dev/null` against `mpg123 -t -q IN`. The ratio is mpg123's time
# over ours: above 1 we are faster.
# --dir keeps the encoded files there and reuses them on the next run; --only K runs only the
# kinds whose name contains K (e.g. "L2").
# Without --decoder, vesperon-decode is built (RelWithDebInfo) in build-bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=9
seconds=180
decoder=""
dir=""
only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --decoder) decoder=$2; shift 2 ;;
        --dir) dir=$2; shift 2 ;;
        --only) only=$2; shift 2 ;;
        *) echo "usage: $0 [--runs N] [--seconds S] [--decoder PATH] [--dir DIR] [--only KIND]" >&2; exit 2 ;;
    esac
done
for tool in sox lame twolame mpg123; do
    command -v "$tool" >/dev/null || { echo "bench_decode: $tool is not installed" >&2; exit 1; }
done

if [ -z "$decoder" ]; then
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESPERON_GUI=OFF >/dev/null
    cmake --build "$root/build-bench" --target vesperon-decode >/dev/null
    decoder=$(find "$root/build-bench" -name vesperon-decode -type f -perm -u+x | head -n 1)
fi
[ -x "$decoder" ] || { echo "bench_decode: no vesperon-decode at '$decoder'" >&2; exit 1; }

if [ -z "$dir" ]; then
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
fi
mkdir -p "$dir"

# Music-like source: tones, sweeps, noise bursts and a low square, mixed.
src="$dir/src-$seconds.wav"
if [ ! -s "$src" ]; then
    sox -m "|sox -n -r 44100 -c 2 -p synth $seconds sine 220 sine 331 gain -10" \
        "|sox -n -r 44100 -c 2 -p synth $seconds sine 100-9000 sine 9000-100 gain -14" \
        "|sox -n -r 44100 -c 2 -p synth $seconds pinknoise pinknoise tremolo 2 100 gain -16" \
        "|sox -n -r 44100 -c 2 -p synth $seconds square 60 square 90 tremolo 1 100 gain -20" \
        -b 16 "$src"
fi

# name | file | how to make it from $src
kinds=(
    "L3 44.1 kHz 128 kbit/s joint stereo|l3-128j.mp3|lame --silent -b 128 -m j"
    "L3 44.1 kHz 320 kbit/s stereo|l3-320s.mp3|lame --silent -b 320 -m s"
    "L3 44.1 kHz VBR (lame -V 2)|l3-v2.mp3|lame --silent -V 2"
    "L3 22.05 kHz 64 kbit/s (MPEG-2)|l3-22k.mp3|lame --silent --resample 22.05 -b 64"
    "L3 11.025 kHz 32 kbit/s mono (MPEG-2.5)|l3-11k.mp3|lame --silent --resample 11.025 -m m -b 32"
    "L2 48 kHz 192 kbit/s stereo|l2-48k.mp2|twolame --quiet -b 192 -m s"
    "L2 44.1 kHz 256 kbit/s joint stereo|l2-256j.mp2|twolame --quiet -b 256 -m j"
)

# Fastest CPU time (user + system, seconds) of $runs runs of the command.
fastest() {
    local best="" t
    for _ in $(seq "$runs"); do
        t=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }')
        best=$(echo "$best $t" | awk '{ if (NF == 1 || $2 < $1) print $NF; else print $1 }')
    done
    echo "$best"
}

echo "decoder: $decoder"
echo "$seconds-s files, fastest of $runs runs, process CPU time (user + system)"
printf '| %-42s | %9s | %9s | %13s |\n' "file" "ours (s)" "mpg123 (s)" "ours / mpg123 speed"
printf '|%s|%s|%s|%s|\n' "--------------------------------------------" "-----------" "------------" "---------------------"
for kind in "${kinds[@]}"; do
    IFS='|' read -r name file make <<<"$kind"
    [ -z "$only" ] || [[ "$name" == *"$only"* ]] || continue
    path="$dir/$file"
    if [ ! -s "$path" ]; then
        input="$src"
        # Layer II at 48 kHz needs a 48 kHz source; twolame does not resample.
        if [[ "$file" == l2-48k* ]]; then
            input="$dir/src-$seconds-48k.wav"
            [ -s "$input" ] || sox "$src" -r 48000 "$input"
        fi
        # shellcheck disable=SC2086
        $make "$input" "$path"
    fi
    ours=$(fastest "$decoder" --raw "$path" /dev/null)
    peer=$(fastest mpg123 -t -q "$path")
    ratio=$(echo "$ours $peer" | awk '{ printf "%.2f", ($1 > 0 ? $2 / $1 : 0) }')
    printf '| %-42s | %9.3f | %10.3f | %19s |\n' "$name" "$ours" "$peer" "$ratio"
done
