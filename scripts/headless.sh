#!/usr/bin/env bash
# Runs a command inside an X server of its own (Xvfb) with a small window manager (frames need
# one to be placed and maximised). Each run takes a free display number from the server itself,
# so several can run side by side. Used by the tests and for screenshots.
set -euo pipefail
number=$(mktemp)
wm=""
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$number" 2>/dev/null &
server=$!
cleanup() {
  [ -z "$wm" ] || kill "$wm" 2>/dev/null || true
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  rm -f "$number"
}
trap cleanup EXIT
for _ in $(seq 200); do
  [ -s "$number" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$number" ]; then
  echo "headless: the X server did not start" >&2
  exit 1
fi
export DISPLAY=":$(cat "$number")"
openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5
"$@"
