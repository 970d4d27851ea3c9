#!/usr/bin/env bash
# Runs one scenario of link_wine_tests under Wine: registers the scenario's fake USB devices in the
# prefix that WINEPREFIX names, maps its COM ports (onto the virtual generator's pty, a locked pty,
# or a file that is no serial line), runs the one test, and removes everything again.
# Usage: link_wine.sh SCENARIO LINK_WINE_TESTS_EXE NATIVE_BUILD_DIR SOURCE_DIR
set -euo pipefail
scenario=$1 exe=$2 nativeBuild=$3 sourceDir=$4
export RIG_NATIVE_BUILD=$nativeBuild
# shellcheck source=../../tools/wine/rig.sh
source "$sourceDir/tools/wine/rig.sh"
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] || { echo "$(basename "$0"): WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/link-wine.XXXXXX")
mappedPorts=()
holderPid=
xvfbPid=
cleanup() {
  set +e
  rig_stop_generator
  [ -z "$xvfbPid" ] || kill "$xvfbPid" 2>/dev/null
  [ -z "$holderPid" ] || kill "$holderPid" 2>/dev/null
  rig_remove_devices
  for port in "${mappedPorts[@]}"; do rm -f "$WINEPREFIX/dosdevices/$port"; done
  rm -rf "$work"
}
trap cleanup EXIT

varnolt='VID_1209&PID_7A3C'
varnoltIds='USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C'
otherIds='USB\VID_0403&PID_6001&REV_0600\0USB\VID_0403&PID_6001'

generator() { # [options...]: the generator on $RIG_PORT (COM5 unless set)
  rig_start_generator "$work" "$@"
  mappedPorts+=("$(tr '[:upper:]' '[:lower:]' <<<"${RIG_PORT:-COM5}")")
}

map_port() { # COMn PATH
  rig_map_port "$1" "$2"
  mappedPorts+=("${1,,}")
}

locked_port() { # COMn: a line whose every open is refused (locked_port.py)
  python3 "$sourceDir/tests/link/locked_port.py" >"$work/locked.out" &
  holderPid=$!
  for _ in $(seq 1 100); do [ -s "$work/locked.out" ] && break; sleep 0.05; done
  map_port "$1" "$(head -n 1 "$work/locked.out")"
}

# Overwrites values with a "Windows Registry Editor Version 5.00" file (UTF-16LE), whose hex(n)
# data goes into the registry byte for byte: the only way to store a REG_SZ without terminator.
import_reg5() {
  local text=$1 file="$work/values.reg"
  printf '\xff\xfe' >"$file"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n' "$text" | iconv -f UTF-8 -t UTF-16LE >>"$file"
  WINEDEBUG=-all wine regedit /S "Z:${file//\//\\}" </dev/null >/dev/null 2>&1
}

# The bytes of a UTF-16LE text as regedit's comma-separated hex.
utf16_hex() {
  printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

case $scenario in
  Connect.NoMatchingDevice)
    # Another maker's serial adapter whose port would open: it must not be taken.
    RIG_PORT=COM8 generator
    rig_add_device 'VID_0403&PID_6001' SN0001 "$otherIds" COM8 ;;
  Connect.MatchingDeviceWithoutPortName)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" ;;
  Connect.DeviceWithoutPortNameIsPassedOver)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds"
    rig_add_device "$varnolt" SN0002 "$varnoltIds" COM5 ;;
  Connect.DeviceKeyCannotBeOpened)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" -nokey
    rig_add_device "$varnolt" SN0002 "$varnoltIds" COM5 ;;
  Connect.UnacceptablePortNames)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM0
    rig_add_device "$varnolt" SN0002 "$varnoltIds" COMX
    rig_add_device "$varnolt" SN0003 "$varnoltIds" LPT1
    rig_add_device "$varnolt" SN0004 "$varnoltIds" COM5
    rig_add_device "$varnolt" SN0005 "$varnoltIds" COM5
    # SN0004 becomes a REG_EXPAND_SZ "COM5" (COM5 is the generator: it would open); the test
    # itself turns SN0005's value into 20 bytes without a terminator.
    key='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB\VID_1209&PID_7A3C'
    import_reg5 "[$key\\SN0004\\Device Parameters]
\"PortName\"=hex(2):$(utf16_hex COM5),00,00" ;;
  Connect.LowerCasePortName)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" com5 ;;
  Connect.TwoMatchingDevicesTheLaterIsOpened)
    # Both ports open (the same generator): only the order may decide.
    generator
    map_port COM8 "$RIG_GENERATOR_PTY"
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM8
    rig_add_device "$varnolt" SN0002 "$varnoltIds" COM5 ;;
  Connect.PortCannotBeOpened)
    # Wine lets a second CreateFileW share a port, so "held by another program" is played by a
    # line whose every open is refused: a pty left locked by the program that holds its master.
    locked_port COM6
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM6 ;;
  Connect.AgainAfterAFailedAttempt)
    generator
    locked_port COM6
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM6 ;;
  Connect.SetupCallsFailOnAPortThatIsNoSerialLine)
    : >"$work/not-a-line"
    map_port COM7 "$work/not-a-line"
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM7 ;;
  Link.StartSendsTheWholeSequenceAndStopTheStopByte)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM5 ;;
  Link.WithoutAReportTheNextPressStartsAgain)
    generator --report none
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM5 ;;
  Link.AWriteThatFailsAtOnceIsNotWaitedFor) ;;
  Receiver.OnlyLoneReportsCount | Receiver.ReadsNothingBeforeConnect)
    generator --report none --control "$work/control"
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM5 ;;
  Receiver.StopsListeningWhenTheGeneratorHangsUp)
    generator --hangup-after 1
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM5 ;;
  Receiver.PortClosedByThePanel)
    generator
    rig_add_device "$varnolt" SN0001 "$varnoltIds" COM5 ;;
  *)
    echo "link_wine.sh: unknown scenario $scenario" >&2
    exit 2 ;;
esac

# Wine makes no window, not even a message-only one, without a display: give it a display of
# this run's own when there is none.
if [ -z "${DISPLAY:-}" ]; then
  rig_start_display "$work" 640x480
  xvfbPid=$RIG_XVFB_PID
fi

rig_wine_env
export VARNOLT_TEST_LOG="Z:${work//\//\\}\\generator.log"
export VARNOLT_TEST_CONTROL="Z:${work//\//\\}\\control"
started=$(date +%s%N)
status=3
for attempt in 1 2; do
  [ "$status" -eq 3 ] || break
  status=0
  timeout 90 wine "$exe" --gtest_filter="$scenario" || status=$?
done
elapsed=$((($(date +%s%N) - started) / 1000000))
echo "link_wine.sh: $scenario ran ${elapsed} ms, exit status $status"
if [ "$status" -eq 0 ] && [ "$scenario" = Receiver.PortClosedByThePanel ] && [ "$elapsed" -gt 15000 ]; then
  echo "link_wine.sh: the process took ${elapsed} ms to end after the port was closed" >&2
  status=1
fi
exit "$status"
