#!/usr/bin/env bash
# Runs VARNOLT on Linux: installs what is missing, builds the native tools and the Windows program,
# and starts the panel under Wine on $DISPLAY, attached to the virtual generator. The generator is
# registered in a Wine prefix of the project's own (build/run/prefix, never ~/.wine) as the USB
# device VID_1209&PID_7A3C with PortName COM5, and COM5 is its pseudo-terminal. Closing the panel
# stops the virtual generator and the prefix's wineserver. Exits with the program's exit status.
#
# The generator's log (every byte the program sent, decoded) is build/run/generator.log.
# Needs bash, and sudo or root only when packages are missing.
# Optional: VARNOLT_RUN_DIR (the prefix and logs, default build/run), VARNOLT_RUN_NATIVE_BUILD and
# VARNOLT_RUN_WINDOWS_BUILD (the build folders, default those of the native and windows presets),
# VARNOLT_RUN_EXE (another Windows program to start in the panel's place, for trying the rig).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Installs first, so that xvfb-run is there for the advice below.
bash tools/setup.sh

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY is not set); to run without one, start it under Xvfb:" \
    "xvfb-run -a bash tools/run.sh   (or: Xvfb :99 & DISPLAY=:99 bash tools/run.sh)" >&2
  exit 1
fi

run=${VARNOLT_RUN_DIR:-$root/build/run}
nativeBuild=${VARNOLT_RUN_NATIVE_BUILD:-$root/build/native}
windowsBuild=${VARNOLT_RUN_WINDOWS_BUILD:-$root/build/windows}
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

build_step "building the native tools" bash -c \
  "cmake --preset native -B '$nativeBuild' && cmake --build '$nativeBuild' -j $jobs \
     --target varnolt-virtual-generator varnolt-ptyshim32 varnolt-ptyshim64"
exe=${VARNOLT_RUN_EXE:-}
if [ -z "$exe" ]; then
  build_step "building varnolt.exe" bash -c \
    "cmake --preset windows -B '$windowsBuild' -DVARNOLT_NATIVE_BUILD_DIR='$nativeBuild' &&
     cmake --build '$windowsBuild' -j $jobs --target varnolt"
  exe="$windowsBuild/app/varnolt.exe"
fi
if [ ! -f "$exe" ]; then
  echo "run: no program at $exe" >&2
  exit 1
fi

export WINEPREFIX="$run/prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export RIG_NATIVE_BUILD="$nativeBuild" RIG_PORT=COM5
# shellcheck source=tools/wine/rig.sh
source "$root/tools/wine/rig.sh"

cleanup() {
  rig_stop_generator
  WINEPREFIX="$run/prefix" wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "run: preparing the Wine prefix $WINEPREFIX" >&2
bash tools/wine/make-prefix.sh "$WINEPREFIX"
rig_remove_devices
rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5
rig_start_generator "$run"

echo "run: starting $(basename "$exe") on $DISPLAY (virtual generator on COM5 = $RIG_GENERATOR_PTY," \
  "log $RIG_GENERATOR_LOG)" >&2
status=0
wine "$exe" || status=$?
echo "run: the panel closed (exit status $status); stopping the virtual generator" >&2
exit "$status"
