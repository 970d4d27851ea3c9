# shellcheck shell=bash
# Which Windows build this host can run, and the Wine loader for each. A bash library: `source` it.
#
#   wine_loader
#       Prints the Wine loader for WINEARCH (default win32): /usr/lib/wine/wine for win32 (an
#       i386 program, package wine32:i386), /usr/lib/wine/wine64 for win64 (package wine64).
#       Debian's `wine` command picks the 32-bit loader whenever it is installed, so every
#       script calls the loader itself.
#   host_runs_i386 PROBE
#       Runs PROBE, a tiny i386 program that the native build makes (or $VARNOLT_I386_PROBE when
#       that is set, for testing this check). True when it ran; false otherwise, with the reason
#       in HOST_I386_REASON ("exec of an i386 program: Exec format error"). The kernel's version
#       or configuration does not tell: it may be built with 32-bit support and booted without it.
#   build_for_host NATIVE_BUILD
#       Chooses the Windows build to run with host_runs_i386 on NATIVE_BUILD's probe: sets
#       WINDOWS_PRESET (windows or windows-x64), WINDOWS_BITS (32 or 64), WINEARCH (win32 or
#       win64) and WINDOWS_WHY ("this machine runs no 32-bit programs (exec of ...)").

wine_loader() {
  case ${WINEARCH:-win32} in
    win32) printf '%s\n' /usr/lib/wine/wine ;;
    win64) printf '%s\n' /usr/lib/wine/wine64 ;;
    *) echo "wine_loader: WINEARCH must be win32 or win64, not $WINEARCH" >&2; return 2 ;;
  esac
}

host_runs_i386() {
  local probe=${VARNOLT_I386_PROBE:-$1} out status=0
  HOST_I386_REASON=
  if [ ! -e "$probe" ]; then
    HOST_I386_REASON="no i386 probe at $probe"
    return 1
  fi
  # A subshell, so that bash's own message about a failed exec is caught as text.
  out=$( ("$probe") 2>&1) || status=$?
  [ "$status" -eq 0 ] && [ "$out" = "i386" ] && return 0
  # "...: cannot execute binary file: Exec format error" gives "Exec format error".
  HOST_I386_REASON="exec of an i386 program: ${out##*: }"
  [ -n "${out##*: }" ] || HOST_I386_REASON="exec of an i386 program ended with $status"
  return 1
}

build_for_host() {
  if host_runs_i386 "$1/tools/wine/varnolt-i386-probe"; then
    WINDOWS_PRESET=windows WINDOWS_BITS=32 WINEARCH=win32
    WINDOWS_WHY="this machine runs 32-bit programs"
  else
    WINDOWS_PRESET=windows-x64 WINDOWS_BITS=64 WINEARCH=win64
    WINDOWS_WHY="this machine runs no 32-bit programs ($HOST_I386_REASON)"
  fi
}
