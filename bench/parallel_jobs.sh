#!/usr/bin/env bash
# Many files at once: 8 songs of 3 minutes (music with noise, made by sox) converted by
# `tolvane-convert --jobs 2` and by `--jobs 1` (one after the other), run alternately, the order of
# the two swapped every round. Prints the median wall time of each, their ratio, and checks that
# both made the same ringtones. Target: --jobs 2 at least 1.7 x faster (ratio <= 0.59).
# FORMAT (default mp3-medium) and ROUNDS (default 3) may be set in the environment.
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert
format=${FORMAT:-mp3-medium}
rounds=${ROUNDS:-3}

bench_workspace
sources=()
for i in 1 2 3 4 5 6 7 8; do
  f="$work/song$i.wav"
  sox -D -n -r 44100 -c 2 -b 16 "$f" synth 180 pluck $((110 + 20 * i)) sine $((330 + 15 * i)) \
    pinknoise tremolo 3 40 remix - gain -n -3 channels 2
  sources+=("$f")
done

run_jobs() {  # jobs -> seconds
  rm -rf "$work/out$1"
  local t0 t1
  t0=$(now)
  "$convert" -f "$format" -o "$work/out$1" --jobs "$1" "${sources[@]}" >/dev/null
  t1=$(now)
  elapsed "$t0" "$t1"
}
one=() two=()
for ((i = 0; i < rounds; i++)); do
  if ((i % 2 == 0)); then
    one+=("$(run_jobs 1)"); two+=("$(run_jobs 2)")
  else
    two+=("$(run_jobs 2)"); one+=("$(run_jobs 1)")
  fi
done
diff -r "$work/out1" "$work/out2" >/dev/null || { echo "--jobs 2 made other ringtones" >&2; exit 1; }

a=$(median "${two[@]}")
b=$(median "${one[@]}")
ratio=$(ratio_of "$a" "$b")
printf 'tolvane-convert -f %s --jobs 2, 8 x 3 min: %.2f s (median of %d)\n' "$format" "$a" "$rounds"
printf 'tolvane-convert -f %s --jobs 1, 8 x 3 min: %.2f s\n' "$format" "$b"
printf 'speed-up: %.2f x (target >= 1.7); load: %s\n' "$(awk -v a="$a" -v b="$b" 'BEGIN { print b / a }')" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
figure "8 x 3 min $format, --jobs 2 vs --jobs 1" "$(printf '%.2f s' "$a")" "$(printf '%.2f s' "$b")" \
  "$ratio" "<= 0.59"
