#!/usr/bin/env bash
# Measures, per thread, the processor time of varnolt.exe under Wine over a window after start-up,
# before anyone presses CONNECT. The program has two threads of its own there: the main thread
# in its message loop and the receiver waiting for the link.
# Usage: program_idle_cpu.sh [WINDOWS_BUILD [SECONDS]]   (the build this host runs, 10 s; the
# prefix is WINEPREFIX, or one of the measurements' own: see windows_build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${2:-10}
# shellcheck source=windows_build.sh
source "$root/tools/measure/windows_build.sh"
choose_windows_build "${1:-}"
exe="$WINDOWS_BUILD/app/varnolt.exe"
# shellcheck source=../wine/rig.sh
source "$root/tools/wine/rig.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/program-cpu.XXXXXX")
xvfbPid= programPid=
cleanup() {
  set +e
  [ -z "$programPid" ] || kill "$programPid" 2>/dev/null
  sleep 0.5
  [ -z "$xvfbPid" ] || kill "$xvfbPid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
rig_start_display "$work" 1024x768
xvfbPid=$RIG_XVFB_PID
# A marker in the environment tells this run's process from any other varnolt.exe.
export VARNOLT_MEASURE_RUN="$work"
"$WINELOADER" "$exe" >"$work/program.out" 2>&1 &
sleep 4
for pid in $(pgrep -f 'varnolt.exe'); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "VARNOLT_MEASURE_RUN=$work"; then
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q 'varnolt.exe' && programPid=$pid
  fi
done
[ -n "$programPid" ] || { echo "program_idle_cpu: varnolt.exe did not start" >&2; exit 1; }
ticks() { { sed -E 's/^.*\) //' "/proc/$programPid/task/$1/stat" 2>/dev/null || true; } | awk '{ print $12 + $13 }'; }
declare -A start
for task in "/proc/$programPid/task"/*; do start[${task##*/}]=$(ticks "${task##*/}"); done
sleep "$seconds"
hz=$(getconf CLK_TCK)
echo "varnolt.exe (process $programPid), $seconds s after start-up, before CONNECT:"
for tid in $(ls "/proc/$programPid/task" | sort -n); do
  role=thread; [ "$tid" = "$programPid" ] && role="main thread"
  awk -v t="$tid" -v r="$role" -v a="${start[$tid]:-0}" -v b="$(ticks "$tid")" -v s="$seconds" -v hz="$hz" \
    'BEGIN { printf "  %-12s %-7s %.2f s = %.2f%% of a core\n", r, t, (b-a)/hz, 100*(b-a)/hz/s }'
done
