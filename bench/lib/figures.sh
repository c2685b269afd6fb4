# Shared by the shell benchmarks: timing helpers and the one line format that bench/run.sh
# gathers into its closing table. Source it; it defines functions only.
#
#   figure PATH OURS PEER RATIO TARGET
# prints "FIGURE PATH | ours OURS | peer PEER | ratio RATIO | target TARGET". Use "-" for a value
# that does not apply (a figure without a peer has no ratio). TARGET reads "<= 0.6" or ">= 1.7";
# the table checks the ratio against it, or the first number of OURS when there is no ratio.

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

figure() {
  printf 'FIGURE %s | ours %s | peer %s | ratio %s | target %s\n' "$1" "$2" "$3" "$4" "$5"
}

# alternate ROUNDS -- OURS-COMMAND... -- PEER-COMMAND...
# Runs the two commands in turn ROUNDS times (so that a load change hits both alike) and sets
# $ours_s and $peer_s to their median wall-clock seconds. Output of both is discarded; a failing
# command stops the benchmark with its error output.
alternate() {
  local rounds=$1 ours=() peer=() t0 t1 t2 errors
  shift 2
  local a=() b=() side=a
  for word in "$@"; do
    if [ "$word" = -- ] && [ $side = a ]; then side=b; continue; fi
    if [ $side = a ]; then a+=("$word"); else b+=("$word"); fi
  done
  errors=$(mktemp)
  for ((i = 0; i < rounds; i++)); do
    t0=$(now)
    "${a[@]}" >/dev/null 2>"$errors" || { cat "$errors" >&2; rm -f "$errors"; return 1; }
    t1=$(now)
    "${b[@]}" >/dev/null 2>"$errors" || { cat "$errors" >&2; rm -f "$errors"; return 1; }
    t2=$(now)
    ours+=("$(elapsed "$t0" "$t1")")
    peer+=("$(elapsed "$t1" "$t2")")
  done
  rm -f "$errors"
  ours_s=$(median "${ours[@]}")
  peer_s=$(median "${peer[@]}")
}

# Sets $build and $convert, the tolvane-convert under test (BUILD, default build-bench); stops
# with a message when it has not been built.
bench_convert() {
  build=${BUILD:-build-bench}
  convert="$build/bin/tolvane-convert"
  [ -x "$convert" ] || { echo "no $convert: build it first (make bench)" >&2; exit 1; }
}

# Makes $work, removed when the script ends, and points settings, caches, the window bus and
# temporary files there, so that a benchmark neither reads nor changes the user's.
bench_workspace() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" TMPDIR="$work"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
}
