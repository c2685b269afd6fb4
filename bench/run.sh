#!/usr/bin/env bash
# Runs every benchmark program and every benchmark script found in the bench build.
set -uo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
for s in "$here"/*.sh; do
  [ "$(basename "$s")" = run.sh ] && continue
  echo "== $(basename "$s")"
  BUILD="$build" bash "$s" || status=1
done
exit $status
