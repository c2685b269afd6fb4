#!/usr/bin/env bash
# AMR ringtones against the same coder driven by sox, on one 3-minute 44.1 kHz stereo WAV:
#   tolvane-convert -f amr  vs  sox in.wav -r 8000 -c 1 -C 7 -t amr-nb out.amr (target <= 1.0)
# Both sides use the same AMR-NB coder; tolvane-convert also measures and normalises the
# loudness. Each command runs three times; the best time counts. (The MP3 ringtone's figure
# against ffmpeg is in bench/per_file.sh.)
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert

bench_workspace

# Music-like material: a different sweeping voice on each side, mixed with noise, pulsing.
sox -D -r 44100 -c 2 -n -b 16 "$work/in.wav" synth 180 sine 220-880 sine 330-990 \
    synth 180 pinknoise mix tremolo 3 40 gain -3

# "wall cpu": seconds of the fastest of three runs of the command, by wall-clock time, and the
# processor time (user + system) of that run. On a busy machine the processor time is the steadier
# figure; the wall-clock time is what the user waits.
best_of_three() {
  local best="" cpu="" TIMEFORMAT="%R %U %S" times wall
  for _ in 1 2 3; do
    rm -rf "$work/out"
    mkdir -p "$work/out"
    times=$({ time "$@" >/dev/null 2>"$work/errors"; } 2>&1) || { cat "$work/errors" >&2; return 1; }
    read -r wall user sys <<<"$times"
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$wall
      cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    fi
  done
  echo "$best $cpu"
}

report() {  # name, "wall cpu" of ours, of the reference, target
  local ours=($2) ref=($3)
  awk -v n="$1" -v a="${ours[0]}" -v ac="${ours[1]}" -v b="${ref[0]}" -v bc="${ref[1]}" -v t="$4" 'BEGIN {
    r = a / b
    printf "%-10s tolvane-convert %5.2f s (cpu %5.2f s)  reference %5.2f s (cpu %5.2f s)  " \
           "ratio %.2f, cpu ratio %.2f (target <= %.1f) %s\n",
           n, a, ac, b, bc, r, ac / bc, t, (r <= t ? "met" : "MISSED") }'
  figure "WAV -> $1 vs sox" "${ours[0]} s" "${ref[0]} s" "$(ratio_of "${ours[0]}" "${ref[0]}")" "<= $4"
}

amr_ours=$(best_of_three "$convert" -f amr -o "$work/out" "$work/in.wav")
# This sox knows the AMR-NB writer by its type name, not by the ".amr" extension.
amr_ref=$(best_of_three sox "$work/in.wav" -r 8000 -c 1 -C 7 -t amr-nb "$work/out/ref.amr")

report amr "$amr_ours" "$amr_ref" 1.0
