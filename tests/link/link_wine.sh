#!/usr/bin/env bash
# Runs one test of link_wine_tests under Wine with its fake USB devices and COM ports (the
# generator's pty, a file that is no serial line, or nothing), and removes them again.
# Usage: link_wine.sh SCENARIO LINK_WINE_TESTS_EXE NATIVE_BUILD_DIR SOURCE_DIR
set -euo pipefail
scenario=$1 exe=$2 sourceDir=$4
export RIG_NATIVE_BUILD=$3
source "$sourceDir/tools/wine/rig.sh"
rig__need_prefix || exit 2

work=$(mktemp -d "${TMPDIR:-/tmp}/link-wine.XXXXXX")
ports=(com5) xvfbPid=
cleanup() {
  set +e
  rig_stop_generator
  [ -z "$xvfbPid" ] || kill "$xvfbPid"
  rig_remove_devices
  for port in "${ports[@]}"; do rm -f "$WINEPREFIX/dosdevices/$port"; done
  rm -rf "$work"
}
trap cleanup EXIT

ids='USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C'
device() { rig_add_device 'VID_1209&PID_7A3C' "$1" "$ids" "${@:2}"; } # INSTANCE [PORTNAME|-nokey]
map() { rig_map_port "$1" "$2" && ports+=("${1,,}"); }                # COMn PATH

case $scenario in
  Connect.OneDeviceThroughItsPortNames)
    # COM6 leads to no line, so its every open fails (Wine lets a second open share a port).
    rig_start_generator "$work"
    : >"$work/not-a-line"
    map COM6 "$work/absent" && map COM7 "$work/not-a-line"
    device SN0001 -nokey ;;
  Receiver.OfTheLaterDeviceOnlyLoneReportsCountAndAHangUpIsALostLinkWaitedOutWithoutSpinning)
    rig_start_generator "$work" --report none --hangup-after 1 --control "$work/control"
    map COM8 "$RIG_GENERATOR_PTY"
    device SN0001 && device SN0002 COM8 && device SN0003 COM5
    rig_add_device 'VID_2341&PID_0043' SN0004 'USB\VID_2341&PID_0043&REV_0001' COM8 ;;
  *) echo "link_wine.sh: unknown scenario $scenario" >&2; exit 2 ;;
esac

# Wine makes no window, not even a message-only one, without a display; its desktop keeps the
# display it was made on, so the prefix's server starts afresh on this one.
[ -n "${DISPLAY:-}" ] || { rig_start_display "$work" 640x480 && xvfbPid=$RIG_XVFB_PID; }
rig_restart_server "$work"
rig_wine_env
export VARNOLT_TEST_CONTROL="Z:${work//\//\\}\\control"
for _ in 1 2; do
  status=0
  timeout 90 "$WINELOADER" "$exe" --gtest_filter="$scenario" || status=$?
  [ "$status" -eq 3 ] || break # 3: Wine made no window this time
done
exit "$status"
