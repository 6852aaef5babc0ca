#!/usr/bin/env bash
# Runs a command inside a fresh Xvfb display with a small window manager (frames need one to be
# placed and maximised). Used by the tests and for screenshots.
set -euo pipefail
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" bash -c '
  openbox >/dev/null 2>&1 &
  wm=$!
  trap "kill $wm 2>/dev/null || true" EXIT
  sleep 0.5
  "$@"
' headless "$@"
