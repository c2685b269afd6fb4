#!/usr/bin/env bash
# SMAF ringtones end to end, from process start to exit: a 3-minute 44.1 kHz stereo WAV of music
# with noise made into SMAF by `tolvane-convert -f smaf` (decoding, normalising, the prepared
# 8 kHz input and the kessin run it drives over the window bus) and by
# `ffmpeg -i in.wav -ac 1 -ar 8000 out.mmf` (its SMAF muxer codes with its default ADPCM), run
# alternately; and a 30-second source through tolvane-convert alone. Medians of ROUNDS runs (default 7).
# Targets: at most 1.5 x ffmpeg; the 30-second source in at most 0.25 s.
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert
rounds=${ROUNDS:-7}

bench_workspace
sox -D -n -r 44100 -c 2 -b 16 "$work/long.wav" synth 180 sine 220 sine 277 sine 330 pinknoise \
  tremolo 3 60 remix - gain -n -3 channels 2
sox "$work/long.wav" "$work/short.wav" trim 0 30

ours=() theirs=() short=()
for ((i = 0; i < rounds; i++)); do
  rm -rf "$work/out" "$work/ffmpeg.mmf"
  t0=$(now)
  "$convert" -f smaf -o "$work/out" "$work/long.wav" >/dev/null
  t1=$(now)
  ffmpeg -loglevel error -i "$work/long.wav" -ac 1 -ar 8000 "$work/ffmpeg.mmf"
  t2=$(now)
  "$convert" -f smaf -o "$work/out" "$work/short.wav" >/dev/null
  t3=$(now)
  ours+=("$(elapsed "$t0" "$t1")")
  theirs+=("$(elapsed "$t1" "$t2")")
  short+=("$(elapsed "$t2" "$t3")")
done
a=$(median "${ours[@]}")
b=$(median "${theirs[@]}")
c=$(median "${short[@]}")
printf 'tolvane-convert -f smaf, 3 min: %.3f s (median of %d)\n' "$a" "$rounds"
printf 'ffmpeg SMAF, 3 min:             %.3f s\n' "$b"
printf 'tolvane-convert -f smaf, 30 s:  %.3f s\n' "$c"
figure "WAV -> smaf vs ffmpeg SMAF (3-min 44.1 kHz stereo)" "$a s" "$b s" \
  "$(ratio_of "$a" "$b")" "<= 1.5"
figure "WAV -> smaf, 30-s source, tolvane-convert start to exit" "$c s" "-" "-" "<= 0.25"
