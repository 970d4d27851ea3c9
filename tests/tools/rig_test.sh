#!/usr/bin/env bash
# Checks the parts of tools/wine/rig.sh that need no Wine: the port mapping, the shim's
# environment, the generator's start and stop, the multi-string encoding of hardware ids, and the
# display it starts for programs that need one.
# Usage: rig_test.sh NATIVE_BUILD
# No set -u: a check on a variable the rig failed to set must fail, not end the script.
failures=0
check() {
  if ! eval "$2"; then
    echo "FAILED: $1" >&2
    failures=$((failures + 1))
  fi
}

work=$(mktemp -d)
export RIG_NATIVE_BUILD=${1:?usage: rig_test.sh NATIVE_BUILD}
unset LD_PRELOAD WINEPREFIX
source "$(dirname "$0")/../../tools/wine/rig.sh"
trap 'rig_stop_generator; rm -rf "$work"' EXIT

check "refuses without a prefix" '! rig_map_port COM5 /dev/null 2>/dev/null'
export WINEPREFIX="$work/prefix"
mkdir -p "$WINEPREFIX"
touch "$WINEPREFIX/system.reg"

check "hex of two ids" '[ "$(rig__multisz_hex "AB\0C")" = "41,42,00,43,00,00" ]'
check "hex of one id" '[ "$(rig__multisz_hex "U\V&")" = "55,5c,56,26,00,00" ]'
check "usage error of rig_add_device" 'rig_add_device onlyone 2>/dev/null; [ $? -eq 2 ]'

rig_map_port COM7 /dev/null
check "COM7 mapped in lower case" '[ "$(readlink "$WINEPREFIX/dosdevices/com7")" = /dev/null ]'
check "LPT1 refused" '! rig_map_port LPT1 /dev/null 2>/dev/null'

check "bad generator option fails the start" '! rig_start_generator "$work/bad" --report loud 2>/dev/null'
check "bad start leaves no pid" '[ -z "${RIG_GENERATOR_PID:-}" ]'

rig_start_generator "$work/run" >"$work/start.out"
check "start prints nothing" '[ ! -s "$work/start.out" ]'
check "generator runs" 'rig__alive "${RIG_GENERATOR_PID:-0}"'
check "pty path" '[[ ${RIG_GENERATOR_PTY:-} == /dev/pts/* ]]'
check "COM5 mapped to the pty" '[ "$(readlink "$WINEPREFIX/dosdevices/com5")" = "${RIG_GENERATOR_PTY:-}" ]'
check "log path" '[ "${RIG_GENERATOR_LOG:-}" = "$work/run/generator.log" ]'
check "LD_PRELOAD keeps \$LIB for the loader" '[[ $LD_PRELOAD == *'"'"'/tools/ptyshim/$LIB/libvarnolt-ptyshim.so'"'"' ]]'
check "the loader finds the shim through \$LIB" 'grep -q libvarnolt-ptyshim.so /proc/self/maps'
rig_wine_env
check "rig_wine_env adds the shim once" '[ "$(tr ":" "\n" <<<"$LD_PRELOAD" | grep -c ptyshim)" -eq 1 ]'
check "WINEARCH" '[ "$WINEARCH" = win32 ]'

# A stop written to the mapped port is answered with a lone 0xAA.
exec 3<>"$WINEPREFIX/dosdevices/com5"
printf '\xaa' >&3
answer=$(timeout 2 head -c 1 <&3 | od -An -tx1 | tr -d ' \n')
exec 3>&-
check "stop answered with aa (got '$answer')" '[ "$answer" = aa ]'
check "log has the stop and the report" \
  'grep -q "\"kind\":\"stop\"" "${RIG_GENERATOR_LOG:-/dev/null}" && grep -q "\"kind\":\"sent\".*\"bytes\":\"aa\"" "${RIG_GENERATOR_LOG:-/dev/null}"'

pid=${RIG_GENERATOR_PID:-0}
rig_stop_generator
check "generator stopped" '! rig__alive "$pid"'
check "pid cleared" '[ -z "$RIG_GENERATOR_PID" ]'
check "stopping twice is harmless" 'rig_stop_generator'

# A display of the rig's own: Xvfb chooses a free number and answers on it.
(
  unset DISPLAY
  mkdir -p "$work/x"
  rig_start_display "$work/x" 320x240
  check "display exported" '[[ ${DISPLAY:-} == :[0-9]* ]]'
  check "Xvfb answers there" 'xdpyinfo >/dev/null 2>&1'
  kill "${RIG_XVFB_PID:-0}" 2>/dev/null
  exit "$failures"
) || failures=$((failures + $?))

if [ "$failures" -ne 0 ]; then
  echo "rig_test: $failures check(s) failed" >&2
  exit 1
fi
echo "rig_test: all checks passed"
