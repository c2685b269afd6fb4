#!/usr/bin/env bash
# One source, one ringtone: tolvane-convert against the command a user would run instead, on a
# 3-minute 44.1 kHz stereo source of music with noise made by sox, and the peak memory of a
# 10-minute source in every format.
#
#   WAV -> wav-medium   vs  sox in.wav -r 8000 -c 1 -b 8 -e unsigned out.wav        target <= 0.6
#   MP3 -> wav-medium   vs  ffmpeg -i in.mp3 -ac 1 -ar 8000 -c:a pcm_u8 out.wav     target <= 1.5
#   WAV -> mp3-medium   vs  ffmpeg -i in.wav -ac 1 -b:a 48k out.mp3                 target <= 0.9
#   10-minute MP3 -> each format: peak resident memory                          target <= 100 MiB
#
# Ours and the peer run alternately, ROUNDS times each (default 3); the median wall-clock time of
# each side counts. The processor time (user + system) of the median runs is printed as well: on a
# busy machine it is the steadier figure. Every figure is one line
#   FIGURE <path> | ours <s> | peer <s> | ratio <r> | target <t>
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert
rounds=${ROUNDS:-3}
if [ ! -x /usr/bin/time ]; then
  echo "skipped: /usr/bin/time (GNU time) is missing"
  exit 0
fi

bench_workspace
mkdir -p "$work/out"

# Music-like material: a sweeping voice on each side over pink noise, pulsing.
music() {  # file seconds
  sox -D -r 44100 -c 2 -n -b 16 "$1" synth "$2" sine 220-880 sine 330-990 \
    synth "$2" pinknoise mix tremolo 3 40 gain -3
}
music "$work/in.wav" 180
ffmpeg -v error -i "$work/in.wav" -c:a libmp3lame -b:a 192k "$work/in.mp3"

# "wall cpu maxrss_kib" of one run of the command; its output goes to the bin.
# The wall-clock time is taken in nanoseconds (GNU time's own has 10 ms steps, too coarse for a
# run of 0.1 s).
measure() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -o "$work/stats" -f '%U %S %M' "$@" >/dev/null 2>"$work/errors" ||
    { cat "$work/errors" >&2; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" '{ printf "%.4f %.2f %s\n", b - a, $1 + $2, $3 }' "$work/stats"
}

median_of() {  # "wall cpu rss" lines on stdin -> the line of the median wall time
  sort -g | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'
}

# Alternates ours and the peer; prints the FIGURE line and the processor times.
compare() {  # path target ours-command... -- peer-command...
  local path=$1 target=$2
  shift 2
  local ours=() peer=()
  while [ "$1" != -- ]; do ours+=("$1"); shift; done
  shift
  peer=("$@")
  local ours_runs="" peer_runs=""
  for ((i = 0; i < rounds; i++)); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    ours_runs+="$(measure "${ours[@]}")"$'\n'
    rm -rf "$work/out" && mkdir -p "$work/out"
    peer_runs+="$(measure "${peer[@]}")"$'\n'
  done
  local a b
  a=$(printf '%s' "$ours_runs" | median_of)
  b=$(printf '%s' "$peer_runs" | median_of)
  awk -v p="$path" -v a="$a" -v b="$b" -v t="$target" 'BEGIN {
    split(a, x, " "); split(b, y, " ")
    printf "FIGURE %s | ours %.3f | peer %.3f | ratio %.2f | target <= %s\n", p, x[1], y[1], x[1] / y[1], t
    printf "  processor time: ours %.2f s, peer %.2f s (ratio %.2f)\n", x[2], y[2], x[2] / y[2] }'
}

compare "WAV -> wav-medium vs sox" 0.6 \
  "$convert" --reconvert -f wav-medium -o "$work/out" "$work/in.wav" -- \
  sox "$work/in.wav" -r 8000 -c 1 -b 8 -e unsigned "$work/out/sox.wav"
compare "MP3 -> wav-medium vs ffmpeg" 1.5 \
  "$convert" --reconvert -f wav-medium -o "$work/out" "$work/in.mp3" -- \
  ffmpeg -v error -y -i "$work/in.mp3" -ac 1 -ar 8000 -c:a pcm_u8 "$work/out/ffmpeg.wav"
compare "WAV -> mp3-medium vs ffmpeg" 0.9 \
  "$convert" --reconvert -f mp3-medium -o "$work/out" "$work/in.wav" -- \
  ffmpeg -v error -y -i "$work/in.wav" -ac 1 -b:a 48k "$work/out/ffmpeg.mp3"

# Peak memory: a 10-minute MP3 decodes to 106 MB of PCM, more than is ever held in memory. The
# converter program's memory counts too (GNU time reports the largest of the process tree).
rm -f "$work/in.wav"
music "$work/long.wav" 600
ffmpeg -v error -i "$work/long.wav" -c:a libmp3lame -b:a 192k "$work/long.mp3"
rm -f "$work/long.wav"
for format in $("$convert" --list-formats | awk '{ print $2 }'); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  stats=$(measure "$convert" --reconvert -f "$format" -o "$work/out" "$work/long.mp3")
  awk -v f="$format" -v s="$stats" 'BEGIN {
    split(s, x, " ")
    printf "FIGURE peak memory, 10-minute MP3 -> %s (MiB) | ours %.1f | peer - | ratio - | target <= 100\n",
           f, x[3] / 1024 }'
done
