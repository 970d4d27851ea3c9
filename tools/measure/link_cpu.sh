#!/usr/bin/env bash
# Measures, per thread, the processor time of the real varnolt.exe under Wine at two moments of
# the device link, clicking the panel with xdotool as a user would:
#   1. over SECONDS after the generator hung up while running (the lost link, nobody touching);
#   2. over 5 s while a write pends: CONNECT to a new generator, START, STOP, then the generator
#      stops reading (SIGSTOP) and START is clicked 40 times, 29,640 bytes, more than the pty
#      takes (about 20 KB), so that the panel's thread waits inside a write. Then the generator
#      reads again and the script counts what arrived.
# A pty takes a start's 741 bytes at once, so only a line that nobody reads makes a write pend.
# Usage: link_cpu.sh [WINDOWS_BUILD [NATIVE_BUILD [SECONDS]]]
#   defaults: the build this host runs (windows_build.sh), build/native, 10 seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export RIG_NATIVE_BUILD=$(cd "${2:-$root/build/native}" && pwd)
seconds=${3:-10}
# shellcheck source=windows_build.sh
source "$root/tools/measure/windows_build.sh"
choose_windows_build "${1:-}"
exe="$WINDOWS_BUILD/app/varnolt.exe"
# shellcheck source=../wine/rig.sh
source "$root/tools/wine/rig.sh"
rig__need_prefix || exit 2

work=$(mktemp -d "${TMPDIR:-/tmp}/link-cpu.XXXXXX")
xvfbPid= programPid=
cleanup() {
  set +e
  [ -z "$programPid" ] || kill "$programPid"
  rig_stop_generator
  [ -z "$xvfbPid" ] || kill "$xvfbPid"
  rig_remove_devices
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT

rig_start_display "$work" 1024x768
xvfbPid=$RIG_XVFB_PID
# Wine's desktop keeps the display it was made on: a server of this run's own, detached.
wineserver -k 2>/dev/null || true
wineserver -w
setsid wineserver -f -p </dev/null >"$work/wineserver.log" 2>&1 &
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5
rig_start_generator "$work/generator1"

export VARNOLT_MEASURE_RUN="$work" # tells this run's process from any other varnolt.exe
"$WINELOADER" "$exe" >"$work/program.out" 2>&1 &
window=$(timeout 30 xdotool search --sync --name '^varnolt\.example$' | head -n 1)
for pid in $(pgrep -f 'varnolt.exe'); do
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "VARNOLT_MEASURE_RUN=$work" &&
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q 'varnolt.exe' && programPid=$pid
done
[ -n "$programPid" ] || { echo "link_cpu: varnolt.exe did not start" >&2; exit 1; }

# Button centres in the window (Wine draws the frame: the client area starts at 3,22).
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.3; }
connect() { click 640 48; }
startStop() { click 625 100; }
# Waits until the generator's log has N lines of KIND.
logged() { # KIND N LOG
  for _ in $(seq 1 300); do
    [ "$(grep -c "\"kind\":\"$1\"" "$3" 2>/dev/null)" -ge "$2" ] && return 0
    sleep 0.1
  done
  echo "link_cpu: the generator never logged $2 \"$1\" lines" >&2
  return 1
}
measure() { # LABEL SECONDS
  local hz tid task
  hz=$(getconf CLK_TCK)
  declare -A before
  ticks() { { sed -E 's/^.*\) //' "/proc/$programPid/task/$1/stat" 2>/dev/null || true; } | awk '{ print $12 + $13 }'; }
  for task in "/proc/$programPid/task"/*; do before[${task##*/}]=$(ticks "${task##*/}"); done
  sleep "$2"
  echo "$1:"
  for tid in $(ls "/proc/$programPid/task" | sort -n); do
    awk -v t="$tid" -v m="$([ "$tid" = "$programPid" ] && echo ' (main)')" -v a="${before[$tid]:-0}" \
      -v b="$(ticks "$tid")" -v s="$2" -v hz="$hz" \
      'BEGIN { printf "  thread %s%s: %.2f s of %d s = %.1f%% of a core\n", t, m, (b-a)/hz, s, 100*(b-a)/hz/s }'
  done
}

connect
startStop
logged sent 1 "$RIG_GENERATOR_LOG" # its 0x55: running
rig_stop_generator
sleep 1
measure "$seconds s after the generator hung up while running" "$seconds"

rig_start_generator "$work/generator2"
connect
startStop
logged sent 1 "$RIG_GENERATOR_LOG"
startStop
logged sent 2 "$RIG_GENERATOR_LOG" # its 0xAA: stopped, so each START sends a whole start
kill -STOP "$RIG_GENERATOR_PID"
for _ in $(seq 1 40); do xdotool mousemove --window "$window" 625 100 click 1; done
sleep 2
echo "main thread blocked in: $(cat "/proc/$programPid/task/$programPid/wchan" 2>/dev/null)"
measure "5 s while a write pends" 5
kill -CONT "$RIG_GENERATOR_PID"
sleep 5
bytes=$(grep -v '"kind":"\(sent\|start\)"' "$RIG_GENERATOR_LOG" | sed -nE 's/.*"length":([0-9]+).*/\1/p' |
  awk '{ n += $1 } END { print n + 0 }')
echo "the second generator received $bytes bytes (41 starts and a stop: $((41 * 741 + 1)))"
