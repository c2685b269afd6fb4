#!/usr/bin/env bash
# End to end: a 3-minute 44.1 kHz stereo WAV (music with noise) made into an iPhone ringtone by
# `tolvane-convert -f m4r` (level analysis of the whole source, normalising, the 30-second cut and
# fade, AAC in MPEG-4) against `ffmpeg -i in.wav -t 30 -c:a aac -b:a 128k out.m4a`, and into an
# Android ringtone by `tolvane-convert -f ogg` against `ffmpeg -i in.wav -c:a libvorbis -q:a 4
# out.ogg`. Each pair runs alternately on the same file; prints the median wall times and their
# ratios. Target: tolvane-convert at most 1.1 x ffmpeg for both.
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert
rounds=${ROUNDS:-7}
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }

bench_workspace
sox -D -n -r 44100 -c 2 -b 16 "$work/tones.wav" synth 180 sawtooth 110-440 triangle 165-660 \
  tremolo 1.3 40
sox -D -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 180 pinknoise
sox -D -m -v 0.6 "$work/tones.wav" -v 0.07 "$work/noise.wav" "$work/in.wav"


# compare NAME FORMAT FFMPEG-ARGS...: alternating runs of ours and ffmpeg's.
compare() {
  local name=$1 format=$2
  shift 2
  local ours=() theirs=() t0 t1 t2
  for ((i = 0; i < rounds; i++)); do
    rm -rf "$work/out" "$work/ffmpeg".*
    t0=$(now); "$convert" -f "$format" -o "$work/out" "$work/in.wav" >/dev/null; t1=$(now)
    ffmpeg -nostdin -v error -y -i "$work/in.wav" "$@"; t2=$(now)
    ours+=("$(elapsed "$t0" "$t1")")
    theirs+=("$(elapsed "$t1" "$t2")")
  done
  local a b
  a=$(median "${ours[@]}")
  b=$(median "${theirs[@]}")
  printf '%s: tolvane-convert -f %s %.3f s, ffmpeg %.3f s (medians of %d), ratio %.2f (target <= 1.10)\n' \
    "$name" "$format" "$a" "$b" "$rounds" "$(ratio_of "$a" "$b")"
  figure "WAV -> $format vs ffmpeg ($name)" "$a s" "$b s" "$(ratio_of "$a" "$b")" "<= 1.1"
}

compare "iPhone ringtone" m4r -t 30 -c:a aac -b:a 128k "$work/ffmpeg.m4a"
compare "Android ringtone" ogg -c:a libvorbis -q:a 4 "$work/ffmpeg.ogg"
# What was made, as ffprobe sees it.
for f in "$work/out/in.ogg" "$work/ffmpeg.ogg"; do
  ffprobe -v error -show_entries format=duration,size:stream=codec_name,sample_rate,channels \
    -of compact "$f"
done
