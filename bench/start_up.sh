#!/usr/bin/env bash
# Start-up: `tolvane-convert --list-formats` from process start to exit (loading the program and
# its libraries, reading nothing but its own tables), beside /bin/true, the cost of starting any
# process on this machine. Each side is the median of ROUNDS batches (default 7) of 20 runs,
# alternated, divided by 20. Target: at most 10 ms.
set -euo pipefail
. "$(dirname "$0")/lib/figures.sh"
bench_convert
rounds=${ROUNDS:-7}
bench_workspace

batch() {  # seconds per run of 20 runs of the command
  local t0 t1
  t0=$(now)
  for ((k = 0; k < 20; k++)); do "$@" >/dev/null; done
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.5f", (b - a) / 20 }'
}
ours=() theirs=()
for ((i = 0; i < rounds; i++)); do
  ours+=("$(batch "$convert" --list-formats)")
  theirs+=("$(batch /bin/true)")
done
a=$(median "${ours[@]}")
b=$(median "${theirs[@]}")
printf 'tolvane-convert --list-formats: %.1f ms (median of %d batches of 20)\n' \
  "$(awk -v a="$a" 'BEGIN { print a * 1000 }')" "$rounds"
printf '/bin/true:                      %.1f ms\n' "$(awk -v b="$b" 'BEGIN { print b * 1000 }')"
printf 'libraries loaded: %s\n' "$(ldd "$convert" | wc -l)"
figure "tolvane-convert --list-formats, start to exit (peer: /bin/true)" "$a s" "$b s" "-" \
  "<= 0.010"
