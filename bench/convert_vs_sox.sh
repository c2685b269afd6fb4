#!/usr/bin/env bash
# End to end: a 3-minute 44.1 kHz stereo WAV made into an 8 kHz 8-bit mono ringtone by
# `tolvane-convert -f wav-medium` (which reads the source twice and normalises it) and by
# `sox in.wav -r 8000 -c 1 -b 8 out.wav`, run alternately on the same file. Prints the median wall
# time of each and their ratio. Target: tolvane-convert at most 0.7 x sox.
set -euo pipefail
build=${BUILD:-build-bench}
convert="$build/bin/tolvane-convert"
rounds=${ROUNDS:-7}
[ -x "$convert" ] || { echo "no $convert: build it first (make bench)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A private settings hive, so the benchmark never touches the user's stored choices.
export XDG_CONFIG_HOME="$work/config"
sox -D -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 180 sine 220:880 sine 330 gain -6

now() { date +%s.%N; }
ours=() theirs=()
for ((i = 0; i < rounds; i++)); do
  rm -rf "$work/out" "$work/sox.wav"
  t0=$(now); "$convert" -f wav-medium -o "$work/out" "$work/in.wav" >/dev/null; t1=$(now)
  sox "$work/in.wav" -r 8000 -c 1 -b 8 "$work/sox.wav"; t2=$(now)
  ours+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
  theirs+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }')")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
a=$(median "${ours[@]}")
b=$(median "${theirs[@]}")
ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')
printf 'tolvane-convert -f wav-medium: %.3f s (median of %d)\n' "$a" "$rounds"
printf 'sox -r 8000 -c 1 -b 8:         %.3f s\n' "$b"
printf 'ratio: %.2f (target <= 0.70)\n' "$ratio"
# The ringtone is what sox would call an 8 kHz mono 8-bit WAV of the same length.
soxi "$work/out/in.wav" | grep -E 'Sample Rate|Channels|Precision|Duration'
