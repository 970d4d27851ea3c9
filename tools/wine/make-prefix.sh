#!/usr/bin/env bash
# Makes (or reuses) a Wine prefix for VARNOLT at the folder given as $1, for the word size that
# WINEARCH names (win32, the default, or win64), and prepares it for the program: fonts that give
# the panel its 2 x 2 pixels per dialog unit, a frame drawn by Wine itself (Xvfb runs no window
# manager), and no crash dialog that would hang a test.
# Starts a persistent wineserver for the prefix: a server started by Wine on its own takes the
# generator's pty as its controlling terminal.
set -euo pipefail
prefix=${1:?usage: make-prefix.sh PREFIX}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
source "$(dirname "$0")/arch.sh"
export WINEPREFIX="$prefix" WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
loader=$(wine_loader)
export WINELOADER=$loader
unset DISPLAY

# Wine's own words go to a log beside the prefix (not a pipe: the services that a first program
# starts would hold it open); a step that fails names itself and Wine's last line.
log="$prefix.make.log"
: >"$log"
fail() {
  echo "make-prefix: $1 failed for $prefix ($WINEARCH, $loader): $(tail -n 1 "$log")" >&2
  exit 1
}

start_server() {
  # -p keeps the server alive between programs; -f keeps it in the foreground of our background job.
  (setsid wineserver -f -p >"$prefix.wineserver.log" 2>&1 &)
}

made=$(cat "$prefix/.varnolt-ready" 2>/dev/null || true)
if [ -n "$made" ] && [ "$made" != "$WINEARCH" ]; then
  echo "make-prefix: $prefix was made for $made, not $WINEARCH" >&2
  exit 1
fi
if [ -z "$made" ]; then
  # A 64-bit prefix says it could not open the 32-bit half (syswow64\rundll32.exe) where only
  # wine64 runs, and still works; what counts is that the prefix is there afterwards.
  # The registry reaches system.reg when the server ends.
  "$loader" wineboot -i </dev/null >>"$log" 2>&1 || true
  wineserver -w || true
  [ -f "$prefix/system.reg" ] || fail "wineboot -i"
  start_server
  fonts="$prefix/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
  cp -n /usr/share/fonts/truetype/freefont/FreeSans*.ttf "$fonts/" 2>/dev/null || true
  reg=$(mktemp --suffix=.reg)
  cat >"$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Microsoft Sans Serif"="FreeSans"
"MS Shell Dlg"="FreeSans"
"MS Shell Dlg 2"="FreeSans"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  # Z: is the prefix's drive for /.
  "$loader" regedit /S "Z:${reg//\//\\}" </dev/null >>"$log" 2>&1 || fail "regedit"
  rm -f "$reg"
  printf '%s\n' "$WINEARCH" >"$prefix/.varnolt-ready"
fi

# The programs above ran without a display, and Wine's desktop process would keep that for a few
# seconds: a panel started meanwhile would get no window. End them with their server, and start the
# persistent server alone; the next program makes the desktop on its own display.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
start_server
# Wait for the server's socket, so that the first program does not start a second server.
socket_name=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
for _ in $(seq 1 100); do
  compgen -G "/tmp/wine-*/$socket_name/socket" >/dev/null && break
  compgen -G "/tmp/.wine-$(id -u)/$socket_name/socket" >/dev/null && break
  sleep 0.05
done

# Start the prefix's services now, with none of the caller's files: started by the first program
# instead, they would hold its standard output and error for as long as the server runs, and a
# test runner reading them (ctest) would wait for ever on that first test.
"$loader" cmd /c exit 0 </dev/null >>"$log" 2>&1 || fail "starting the prefix's services"
# That made a desktop process without a display, which ends by itself within a few seconds; wait
# for it, so that the next program makes the desktop on its own display.
desktop_of_prefix() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && return 0
  done
  return 1
}
for _ in $(seq 1 300); do
  desktop_of_prefix || break
  sleep 0.05
done
