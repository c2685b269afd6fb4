#!/usr/bin/env bash
# Runs every benchmark program and every benchmark script found in the bench build, then prints
# all their figures in one table: ours beside the peer's, the ratio, the target and whether it
# was met. BENCH_ONLY=regex runs only the programs and scripts whose names match.
set -uo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/output"

selected() { [ -z "${BENCH_ONLY:-}" ] || [[ $1 =~ $BENCH_ONLY ]]; }

for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  selected "$name" || continue
  echo "== $name"
  # Google Benchmark programs also write JSON, from which their figures are taken; the wizard's
  # timing program prints its figures itself.
  if ldd "$b" 2>/dev/null | grep -q libbenchmark || grep -qa benchmark_out_format "$b"; then
    "$b" --benchmark_out="$work/$name.json" --benchmark_out_format=json | tee -a "$log" || status=1
    [ -s "$work/$name.json" ] && "$here/lib/gbench_figures.py" "$work/$name.json" | tee -a "$log"
  else
    "$b" | tee -a "$log" || status=1
  fi
done
for s in "$here"/*.sh; do
  name=$(basename "$s")
  [ "$name" = run.sh ] && continue
  selected "$name" || continue
  echo "== $name"
  BUILD="$build" bash "$s" | tee -a "$log" || status=1
done

echo
echo "== all figures"
"$here/lib/figure_table.py" <"$log" || status=1
exit $status
