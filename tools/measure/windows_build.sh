# shellcheck shell=bash
# The Windows build a measurement runs on, and its Wine. A bash library: `source` it, then call
#   choose_windows_build [BUILD]
# BUILD defaults to the build this host can run: build/windows (32-bit, the product) where the
# host runs 32-bit programs, build/windows-x64 under wine64 where it does not. A BUILD given is
# taken at its word size (read from its varnolt.exe). Exports WINEARCH, WINELOADER, WINEDEBUG and
# WINEPREFIX (when it is not set: build/measure/prefix-win32 or -win64, made here), sets
# WINDOWS_BUILD (absolute) and prints one line naming the build, the Wine and the prefix used.
# Returns non-zero with one line on stderr when the build or its Wine cannot run here.

MEASURE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../wine/arch.sh
source "$MEASURE_ROOT/tools/wine/arch.sh"

# The word size of a PE program: the optional header's magic, 0x10b (PE32) or 0x20b (PE32+).
measure__pe_arch() {
  local header magic
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$header" ] || return 1
  magic=$(od -An -tx2 -j$((header + 24)) -N2 "$1" | tr -d ' ')
  case $magic in
    010b) echo win32 ;;
    020b) echo win64 ;;
    *) return 1 ;;
  esac
}

choose_windows_build() {
  local native="$MEASURE_ROOT/build/native" why
  build_for_host "$native"
  why=$WINDOWS_WHY
  if [ -n "${1:-}" ]; then
    WINDOWS_BUILD=$(cd "$1" 2>/dev/null && pwd) || { echo "measure: no build folder $1" >&2; return 2; }
    WINEARCH=$(measure__pe_arch "$WINDOWS_BUILD/app/varnolt.exe") || {
      echo "measure: no Windows program at $WINDOWS_BUILD/app/varnolt.exe" >&2
      return 2
    }
    if [ "$WINEARCH" = win32 ] && [ "$WINDOWS_PRESET" != windows ]; then
      echo "measure: $WINDOWS_BUILD is the 32-bit build, and $why" >&2
      return 2
    fi
  else
    WINDOWS_BUILD="$MEASURE_ROOT/build/$WINDOWS_PRESET"
  fi
  [ -f "$WINDOWS_BUILD/app/varnolt.exe" ] || {
    echo "measure: no $WINDOWS_BUILD/app/varnolt.exe (cmake --preset $WINDOWS_PRESET && cmake --build --preset $WINDOWS_PRESET)" >&2
    return 2
  }
  export WINEARCH WINEDEBUG=${WINEDEBUG:--all}
  WINELOADER=$(wine_loader) || return 2
  export WINELOADER
  if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX="$MEASURE_ROOT/build/measure/prefix-$WINEARCH"
    bash "$MEASURE_ROOT/tools/wine/make-prefix.sh" "$WINEPREFIX" || return 2
  fi
  local bits=32
  [ "$WINEARCH" = win32 ] || bits=64
  echo "measure: the $bits-bit build $WINDOWS_BUILD ($why), under $("$WINELOADER" --version)" \
    "($WINELOADER), prefix $WINEPREFIX"
}
