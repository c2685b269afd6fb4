#!/usr/bin/env bash
# skyletd under load (wrk, 32 connections, 2 threads): pick-up page requests per second and
# 100 KB uploads per second (spread over 32 accounts) on SQLite, then uploads on PostgreSQL with one and with two
# instances (a private server in a temporary folder; skipped when PostgreSQL is missing).
# BENCH_SECONDS (10) sets the length of each run, BENCH_PG_OPTIONS adds server settings (e.g.
# "-c synchronous_commit=off"), BENCH_CPU=1 lists the CPU time the processes used.
# Targets: >= 2000 pages/s and >= 200 uploads/s on SQLite; two PostgreSQL instances >= 1.6x one.
set -euo pipefail
build=${BUILD:-build-bench}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/figures.sh"
skyletd="$build/bin/skyletd"
seconds=${BENCH_SECONDS:-10}
command -v wrk >/dev/null || { echo "wrk is not installed (scripts/install-deps.sh)"; exit 1; }
work=$(mktemp -d /tmp/skyletd-bench.XXXXXX)
chmod 755 "$work"
pids=()
pg_ctl_cmd=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ ${#pg_ctl_cmd[@]} -gt 0 ]; then "${pg_ctl_cmd[@]}" -D "$work/pg" -m fast -w stop >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# start NAME ARGS...: starts skyletd on a free port; sets $url to its base URL.
start() {
  local name=$1; shift
  "$skyletd" --listen 127.0.0.1:0 --max-per-address 64 --account-numbers sequential "$@" \
    >/dev/null 2>"$work/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do
    url=$(grep -o 'http://[0-9.:]*/' "$work/$name.log" | head -1 || true)
    [ -n "$url" ] && return
    sleep 0.1
  done
  echo "skyletd did not start: $(cat "$work/$name.log")" >&2; exit 1
}

rate() { awk '/Requests\/sec/ {print $2}'; }

# uploads URL...: uploads for $seconds seconds spread over the given instances; total rate.
uploads() {
  local account total=0 outs=()
  account=$(for _ in $(seq 32); do curl -s "${1}reg.ashx"; echo; done | paste -sd,)
  local each=$((32 / $#)) i=0
  for url in "$@"; do
    SKYLET_ACCOUNTS=$account wrk -t1 -c"$each" -d"${seconds}s" -s "$here/skyletd_upload.lua" \
      "$url" >"$work/wrk$i.out" 2>"$work/wrk$i.err" &
    outs+=("$work/wrk$i.out"); i=$((i + 1))
  done
  wait
  for out in "${outs[@]}"; do total=$(awk -v a="$total" -v b="$(rate <"$out")" 'BEGIN {print a + b}'); done
  printf '%.0f' "$total"
  cat "$work"/wrk*.err | awk '/upload refused/ {s++} END {if (s) printf " (%d refused)", s}' || true
}

start sqlite --data "$work/data"
curl -s "${url}reg.ashx" >/dev/null
account=$(curl -s "${url}reg.ashx")
page=$(wrk -t2 -c32 -d"${seconds}s" "${url}?id=$account" | rate)
echo "SQLite: pick-up page $page requests/s (32 connections)"
figure "skyletd pick-up page, SQLite, 32 connections" "$page requests/s" - - ">= 2000"
sqlite_uploads=$(uploads "$url")
echo "SQLite: 100 KB uploads $sqlite_uploads per second (32 connections)"
figure "skyletd 100 KB uploads, SQLite, 32 connections" "$sqlite_uploads uploads/s" - - ">= 200"

pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
if [ -z "$pgbin" ]; then echo "PostgreSQL: not installed, skipped"; exit 0; fi
as_owner=()
if [ "$(id -u)" = 0 ]; then as_owner=(runuser -u postgres --); chown postgres "$work"; fi
"${as_owner[@]}" "$pgbin/initdb" -D "$work/pg" -U postgres --auth=trust --no-sync >/dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
pg_ctl_cmd=("${as_owner[@]}" "$pgbin/pg_ctl")
"${pg_ctl_cmd[@]}" -D "$work/pg" -o "-p $port -k $work -c listen_addresses=127.0.0.1 -c max_connections=300 ${BENCH_PG_OPTIONS:-}" \
  -l "$work/pg.log" -w start >/dev/null
"${as_owner[@]}" "$pgbin/createdb" -h 127.0.0.1 -p "$port" -U postgres skylet
db="postgresql://postgres@127.0.0.1:$port/skylet"
start pg1 --database "$db"; one=$url
single=$(uploads "$one")
start pg2 --database "$db"; two=$url
double=$(uploads "$one" "$two")
[ -n "${BENCH_CPU:-}" ] && ps -eo comm,cputime,args --sort=-cputime | grep -E "skyletd|postgres: post" | head -8
echo "PostgreSQL: 100 KB uploads, one instance ${single} per second, two instances ${double} per second"
figure "skyletd uploads on PostgreSQL, two instances vs one" "${double%% *} uploads/s" \
  "${single%% *} uploads/s" "$(ratio_of "${double%% *}" "${single%% *}")" ">= 1.6"
