#!/usr/bin/env bash
# Measures the processor time of the link's receiver thread under Wine, from /proc: over a window
# before CONNECT, connected to a silent virtual generator, and after the generator hangs up.
# The receiver is the one real ReceiverThread, run by link_receiver_load.exe (the link's Windows
# test build); its Linux thread is the task that appears when the program starts it.
# Usage: WINEPREFIX=... receiver_cpu.sh [WINDOWS_BUILD [NATIVE_BUILD [SECONDS]]]
#   defaults: build/windows, build/native, 10 seconds per window.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
windowsBuild=$(cd "${1:-$root/build/windows}" && pwd)
export RIG_NATIVE_BUILD=$(cd "${2:-$root/build/native}" && pwd)
seconds=${3:-10}
exe="$windowsBuild/tests/link/link_receiver_load.exe"
[ -f "$exe" ] || { echo "receiver_cpu: no $exe (build the Windows tests first)" >&2; exit 2; }
# shellcheck source=../wine/rig.sh
source "$root/tools/wine/rig.sh"
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] || { echo "$(basename "$0"): WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/receiver-cpu.XXXXXX")
xvfbPid=
cleanup() {
  set +e
  if [ -n "${programPid:-}" ]; then
    echo quit >&"${COPROC[1]}" 2>/dev/null
    for _ in $(seq 1 40); do kill -0 "$programPid" 2>/dev/null || break; sleep 0.05; done
    kill "$programPid" 2>/dev/null
  fi
  rig_stop_generator
  [ -z "$xvfbPid" ] || kill "$xvfbPid"
  rig_remove_devices
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  rig_start_display "$work" 640x480
  xvfbPid=$RIG_XVFB_PID
fi
rig_start_generator "$work" --report none
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5
rig_wine_env

ticksPerSecond=$(getconf CLK_TCK)
# utime + stime of one task, in clock ticks (fields 14 and 15; the name in field 2 may hold blanks).
task_ticks() { { sed -E 's/^.*\) //' "/proc/$1/task/$2/stat" 2>/dev/null || true; } | awk '{ print $12 + $13 }'; }
tasks() { ls "/proc/$1/task" | sort -n; }
# The Windows process: wine execs its loader in place, so it is the coprocess itself, or else
# the process whose command line names the exe.
find_process() {
  if tr '\0' ' ' <"/proc/$programPid/cmdline" 2>/dev/null | grep -q 'link_receiver_load.exe'; then
    echo "$programPid"
  else
    pgrep -f 'link_receiver_load.exe' | tail -n 1
  fi
}

coproc wine "$exe" 2>"$work/program.err"
programPid=$COPROC_PID
ask() { echo "$1" >&"${COPROC[1]}"; local answer; IFS= read -r -t 30 answer <&"${COPROC[0]}"; echo "${answer%$'\r'}"; }
IFS= read -r -t 60 first <&"${COPROC[0]}"
[ "${first%$'\r'}" = ready ] || { echo "receiver_cpu: the program said: $first" >&2; exit 1; }
pid=$(find_process)
[ -n "$pid" ] || { echo "receiver_cpu: no Wine process found" >&2; exit 1; }
sleep 2 # let Wine start its own threads first
before=$(tasks "$pid")
echo "program: $(ask receiver)"
sleep 1
receiverTid=$(comm -13 <(echo "$before") <(tasks "$pid") | head -n 1)
[ -n "$receiverTid" ] || { echo "receiver_cpu: no new thread appeared" >&2; exit 1; }
echo "process $pid, receiver thread $receiverTid (threads: $(tasks "$pid" | tr '\n' ' '))"

window() { # LABEL: the receiver's ticks over $seconds, as a share of one core
  local label=$1 t0 t1 p0 p1
  t0=$(task_ticks "$pid" "$receiverTid")
  local tid others=() before=()
  for tid in $(tasks "$pid"); do before+=("$tid:$(task_ticks "$pid" "$tid")"); done
  p0=$(awk '{ print $12 + $13 }' < <(sed -E 's/^.*\) //' "/proc/$pid/stat"))
  sleep "$seconds"
  t1=$(task_ticks "$pid" "$receiverTid")
  p1=$(awk '{ print $12 + $13 }' < <(sed -E 's/^.*\) //' "/proc/$pid/stat"))
  awk -v l="$label" -v a="${t0:-x}" -v b="${t1:-x}" -v pa="$p0" -v pb="$p1" -v s="$seconds" -v hz="$ticksPerSecond" 'BEGIN {
    if (a == "x" || b == "x") r = "receiver thread has ended";
    else r = sprintf("receiver %.2f s of %d s = %.2f%% of a core", (b-a)/hz, s, 100*(b-a)/hz/s);
    printf "%-29s %s (whole process %.2f%%)\n", l, r, 100*(pb-pa)/hz/s }'
  for tid in "${before[@]}"; do
    local now
    now=$(task_ticks "$pid" "${tid%%:*}")
    [ -z "$now" ] || [ "$now" = "${tid#*:}" ] || others+=("thread ${tid%%:*} $(((now - ${tid#*:}) * 1000 / ticksPerSecond)) ms")
  done
  [ ${#others[@]} -eq 0 ] || echo "    busy threads: ${others[*]}"
}

window "before CONNECT:"
echo "program: $(ask connect)"
window "connected, generator silent:"
rig_stop_generator
echo "generator hung up"
sleep 1
echo "program: $(ask state)"
window "after the hang-up:"
