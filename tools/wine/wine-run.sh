#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix that WINEPREFIX names. Refuses to run without
# one, so that a test never creates or touches the user's ~/.wine.
set -u
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh" >&2
  exit 2
fi
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
