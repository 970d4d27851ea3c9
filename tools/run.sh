#!/usr/bin/env bash
# Runs VARNOLT on Linux: installs what is missing, builds the native tools and the Windows program,
# and starts the panel under Wine on $DISPLAY, attached to the virtual generator: the 32-bit panel
# (build/windows) where this machine runs 32-bit programs, the 64-bit one (build/windows-x64) under
# wine64 where it does not. The generator is registered in a Wine prefix of the project's own
# (build/run/prefix, or build/run/prefix-x64 for the 64-bit panel; never ~/.wine) as the USB
# device VID_1209&PID_7A3C with PortName COM5, and COM5 is its pseudo-terminal. Closing the panel
# stops the virtual generator and the prefix's wineserver. Exits with the program's exit status.
#
#   bash tools/run.sh                      the panel on the virtual generator
#   bash tools/run.sh --device auto        the panel on the one real generator plugged in, found
#                                          by `varnoltctl list` (USB 1209:7A3C)
#   bash tools/run.sh --device /dev/ttyACM0   the panel on the generator at that port
# A real generator is registered in the prefix exactly as the virtual one is (a USB device entry
# with the hardware id and PortName COM5, COM5 linked to the device node): Wine's SetupAPI lists no
# real USB device, so this is the only way CONNECT can find it. No virtual generator runs then.
#
# The generator's log (every byte the program sent, decoded) is build/run/generator.log.
# Needs bash, and sudo or root only when packages are missing.
# Optional: VARNOLT_RUN_DIR (the logs and the prefix, default build/run), VARNOLT_RUN_PREFIX (the
# Wine prefix), VARNOLT_RUN_NATIVE_BUILD and VARNOLT_RUN_WINDOWS_BUILD (the build folders,
# default those of the native preset and of the Windows preset chosen), VARNOLT_RUN_EXE (another
# Windows program of the chosen word size to start in the panel's place, for trying the rig).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

device=
while [ $# -gt 0 ]; do
  case $1 in
    --device) [ $# -ge 2 ] || { echo "run: --device needs auto or a port path" >&2; exit 64; }
              device=$2; shift 2 ;;
    --device=*) device=${1#--device=}; shift ;;
    -h | --help) sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
    *) echo "run: unknown argument $1 (usage: run.sh [--device auto|PORT])" >&2; exit 64 ;;
  esac
done

# Installs first, so that xvfb-run is there for the advice below.
bash tools/setup.sh

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY is not set); to run without one, start it under Xvfb:" \
    "xvfb-run -a bash tools/run.sh   (or: Xvfb :99 & DISPLAY=:99 bash tools/run.sh)" >&2
  exit 1
fi

run=${VARNOLT_RUN_DIR:-$root/build/run}
nativeBuild=${VARNOLT_RUN_NATIVE_BUILD:-$root/build/native}
mkdir -p "$run"
run=$(cd "$run" && pwd)
jobs=$(nproc)

# Builds quietly into a log, which is shown when the step fails.
build_step() {
  local what=$1
  shift
  echo "run: $what" >&2
  if ! "$@" >"$run/build.log" 2>&1; then
    tail -n 40 "$run/build.log" >&2
    echo "run: $what failed (whole output in $run/build.log)" >&2
    exit 1
  fi
}

tools="varnolt-virtual-generator varnolt-ptyshim32 varnolt-ptyshim64 varnolt-i386-probe"
[ "$device" != auto ] || tools="$tools varnoltctl"
build_step "building the native tools" bash -c \
  "cmake --preset native -B '$nativeBuild' && cmake --build '$nativeBuild' -j $jobs --target $tools"

# The one generator that `varnoltctl list` finds; its /dev/serial/by-id link where it has one, so
# that the prefix keeps pointing at the same board.
find_generator() {
  local json
  json=$("$nativeBuild/cli/varnoltctl" list --json) || true
  python3 -c '
import json, sys
found = json.loads(sys.argv[1] or "{}").get("generators") or []
if len(found) != 1:
    print(len(found))
    sys.exit(1)
print(found[0].get("byId") or found[0]["port"])' "$json"
}

if [ "$device" = auto ]; then
  if ! found=$(find_generator); then
    if [ "$found" = 0 ]; then
      echo "run: no generator found (USB 1209:7A3C); plug it in, or name its port with --device PORT" >&2
    else
      echo "run: $found generators found; choose one with --device PORT (see: $nativeBuild/cli/varnoltctl list)" >&2
    fi
    exit 69
  fi
  device=$found
fi
if [ -n "$device" ]; then
  node=$(readlink -f -- "$device" || true)
  if [ -z "$node" ] || [ ! -c "$node" ]; then
    echo "run: $device is no serial port (not a character device)" >&2
    exit 66
  fi
  if [ ! -r "$node" ] || [ ! -w "$node" ]; then
    echo "run: no permission on $device: join the group $(stat -c %G "$node") or install" \
      "tools/udev/70-varnolt.rules (README)" >&2
    exit 77
  fi
  # The package's service holds the port while it serves it (and keeps /run/varnoltctl/NAME).
  if [ -d "${VARNOLT_RUN:-/run}/varnoltctl/$(basename "$node")" ]; then
    unit="varnoltctl-serve@$(basename "$node").service"
    echo "run: $device is held by $unit, which serves it over the network; stop it:" \
      "sudo systemctl stop $unit (keep it from starting: sudo systemctl disable" \
      "varnoltctl-serve@.service)" >&2
    exit 75
  fi
fi
# The 32-bit panel is the product; where this machine runs no 32-bit programs (and so no 32-bit
# Wine), the 64-bit one from the same sources.
source tools/wine/arch.sh
build_for_host "$nativeBuild"
if [ "$WINDOWS_PRESET" = windows ]; then
  windowsBuild=${VARNOLT_RUN_WINDOWS_BUILD:-$root/build/windows} prefix=$run/prefix
else
  windowsBuild=${VARNOLT_RUN_WINDOWS_BUILD:-$root/build/windows-x64} prefix=$run/prefix-x64
fi
echo "run: the $WINDOWS_BITS-bit panel ($WINDOWS_WHY)" >&2
exe=${VARNOLT_RUN_EXE:-}
if [ -z "$exe" ]; then
  build_step "building varnolt.exe" bash -c \
    "cmake --preset $WINDOWS_PRESET -B '$windowsBuild' -DVARNOLT_NATIVE_BUILD_DIR='$nativeBuild' &&
     cmake --build '$windowsBuild' -j $jobs --target varnolt"
  exe="$windowsBuild/app/varnolt.exe"
fi
if [ ! -f "$exe" ]; then
  echo "run: no program at $exe" >&2
  exit 1
fi

export WINEPREFIX="${VARNOLT_RUN_PREFIX:-$prefix}" WINEARCH WINEDEBUG="${WINEDEBUG:--all}"
export RIG_NATIVE_BUILD="$nativeBuild" RIG_PORT=COM5
# shellcheck source=tools/wine/rig.sh
source "$root/tools/wine/rig.sh"

cleanup() {
  rig_stop_generator || true
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "run: preparing the Wine prefix $WINEPREFIX" >&2
bash tools/wine/make-prefix.sh "$WINEPREFIX"
rig_remove_devices
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5
if [ -n "$device" ]; then
  # The shim of the test rig only answers for pseudo-terminals; a real port is left to Wine.
  rig_map_port COM5 "$device"
  rig_wine_env
  echo "run: starting $(basename "$exe") on $DISPLAY (generator on COM5 = $device)" >&2
else
  rig_start_generator "$run"
  echo "run: starting $(basename "$exe") on $DISPLAY (virtual generator on COM5 = $RIG_GENERATOR_PTY," \
    "log $RIG_GENERATOR_LOG)" >&2
fi
status=0
"$WINELOADER" "$exe" || status=$?
echo "run: the panel closed (exit status $status)" >&2
exit "$status"
