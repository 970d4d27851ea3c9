#!/usr/bin/env bash
# Runs a Windows test program under Wine on an Xvfb server of its own and stops that server
# afterwards. Exits 77 (counted as skipped) when no Xvfb can be started here.
# usage: run-with-xvfb.sh WINE_RUN_SCRIPT PROGRAM.exe [ARGS...]
set -u
wineRun=${1:?usage: run-with-xvfb.sh WINE_RUN_SCRIPT PROGRAM.exe [ARGS...]}
shift

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "skipped: Xvfb is not installed"
  exit 77
fi

xvfbPid=
stopXvfb() {
  if [ -n "$xvfbPid" ]; then
    kill "$xvfbPid" 2>/dev/null
    wait "$xvfbPid" 2>/dev/null
  fi
}
trap stopXvfb EXIT

# Display :72 first; the next free number when another server holds it.
display=
for number in $(seq 72 99); do
  [ -e "/tmp/.X$number-lock" ] && continue
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfbPid=$!
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$xvfbPid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$xvfbPid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$number" ]; then
    display=":$number"
    break
  fi
  stopXvfb
  xvfbPid=
done
if [ -z "$display" ]; then
  echo "skipped: Xvfb did not start"
  exit 77
fi

echo "Xvfb on display $display"
export DISPLAY=$display
"$wineRun" "$@"
