#!/usr/bin/env bash
# `make run`: start the local upload service if it is not running, then the wizard.
set -euo pipefail
build=${1:-build}
bin="$build/bin"

if [ -x "$bin/skyletd" ]; then
  if ! (exec 3<>/dev/tcp/127.0.0.1/8099) 2>/dev/null; then
    echo "Starting skyletd on 127.0.0.1:8099 (log: $build/skyletd.log)"
    nohup "$bin/skyletd" --listen 127.0.0.1:8099 >"$build/skyletd.log" 2>&1 &
  fi
fi

if [ -x "$bin/tolvane" ]; then
  exec "$bin/tolvane"
fi

echo "The wizard is not built yet. What there is to run:"
for p in "$bin"/* "$build"/libexec/tolvane/*; do
  [ -x "$p" ] && [ -f "$p" ] && echo "  $p"
done
if [ -x "$bin/tolvane-convert" ]; then
  echo "Try:  $bin/tolvane-convert --help"
fi
