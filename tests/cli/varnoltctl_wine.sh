#!/usr/bin/env bash
# Usage: varnoltctl_wine.sh VARNOLTCTL_EXE NATIVE_BUILD_DIR SOURCE_DIR. varnoltctl.exe under Wine finds
# the virtual generator on COM5 through SetupAPI; a start's writes arrive as --dry-run prints them.
set -euo pipefail
exe=$1
export RIG_NATIVE_BUILD=$2
# shellcheck source=../../tools/wine/rig.sh
source "$3/tools/wine/rig.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/varnoltctl-wine.XXXXXX")
trap 'rig_stop_generator; rig_remove_devices; rm -f "$WINEPREFIX/dosdevices/com5"; rm -rf "$work"' EXIT
fail() { echo "varnoltctl_wine.sh: $*" >&2; exit 1; }

rig_start_generator "$work"
rig_add_device 'VID_0403&PID_6001' SN0009 'USB\VID_0403&PID_6001' COM8
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5

listed=$(rig_wine "$exe" list --json | tr -d '\r')
[ "$listed" = '{"generators":[{"port":"COM5","serial":"SN0001","byId":null}]}' ] ||
  fail "list gave $listed"

settings=(--freq 2.5k --offset -0.5 --vpp 1 --wave triangle --jumper J2)
result=$(rig_wine "$exe" start "${settings[@]}" --json | tr -d '\r') || fail "start ended with $?: $result"
[ "$result" = '{"port":"COM5","written":741,"report":"55","exitCode":0}' ] || fail "start gave $result"

expected=$(rig_wine "$exe" start "${settings[@]}" --dry-run | tr -d '\r ')
received=$(PYTHONPATH="$3/tests" python3 -m rig.generator "$RIG_GENERATOR_LOG")
# The generator answers 55 only to a valid start; these are its 14 writes as they arrived.
[ "$(wc -l <<<"$expected")" -eq 14 ] && [ "$received" = "$expected" ] ||
  fail "the generator received other bytes than --dry-run prints"

# A WAV file on standard input is read as bytes (CR, LF and 0x1A kept): as the file read by name.
python3 -c '
import struct, sys
frames = bytes([0x0d, 0x0a, 0x1a, 0x00, 0x0a, 0x0d, 0x00, 0x80, 0x0d, 0x0a, 0xff, 0x7f])
fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, 8000, 16000, 2, 16)
body = b"WAVE" + fmt + b"data" + struct.pack("<I", len(frames)) + frames
sys.stdout.buffer.write(b"RIFF" + struct.pack("<I", len(body)) + body)' >"$work/cycle.wav"
piped=$(rig_wine "$exe" table --shape - <"$work/cycle.wav" | tr -d '\r') ||
  fail "table --shape - ended with $?"
named=$(rig_wine "$exe" table --shape "$work/cycle.wav" | tr -d '\r') ||
  fail "table --shape FILE ended with $?"
[ "$(wc -l <<<"$piped")" -eq 360 ] && [ "$piped" = "$named" ] ||
  fail "a WAV file on standard input gave other codes than the file read by name"

# Wine has no DnsServiceBrowse: the program, which looks it up at run time, loads and says so.
# In a network namespace of its own, so that a Wine that had it would browse only loopback.
loader=$(wine_loader) status=0
found=$(WINELOADER=$loader unshare -n "$loader" "$exe" discover --timeout 0.2 --json \
  2>"$work/discover.err" | tr -d '\r') || status=$?
message="this system has no DNS-SD to ask (DnsServiceBrowse: Windows 10 1809 or later is needed)"
[ "$status" -eq 69 ] && [ "$found" = "{\"error\":\"$message\",\"exitCode\":69}" ] ||
  fail "discover ended with $status: $found $(cat "$work/discover.err")"
# The Windows build carries no TLS: each HTTPS option is refused before anything is opened.
for option in --https --tls-cert --tls-key; do
  status=0
  refused=$(rig_wine "$exe" serve "$option" 0 2>&1 >/dev/null | tr -d '\r') || status=$?
  [ "$status" -eq 64 ] && [ "$refused" = "varnoltctl: $option: the Windows build serves HTTP only" ] ||
    fail "serve $option ended with $status: $refused"
done
echo "varnoltctl_wine.sh: passed"
