#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix that WINEPREFIX names, with the loader of the
# word size that WINEARCH names (win32, the default, or win64). Refuses to run without a prefix
# made by make-prefix.sh for that word size, so that a test never creates or touches the user's
# ~/.wine, and a 64-bit run never lands in a 32-bit prefix.
set -u
source "$(dirname "$0")/arch.sh"
export WINEARCH=${WINEARCH:-win32}
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh" >&2
  exit 2
fi
made=$(cat "$WINEPREFIX/.varnolt-ready" 2>/dev/null || true)
if [ "$made" != "$WINEARCH" ]; then
  echo "wine-run: $WINEPREFIX was made for ${made:-another word size}, not $WINEARCH" >&2
  exit 2
fi
loader=$(wine_loader) || exit 2
export WINELOADER=$loader WINEDEBUG="${WINEDEBUG:--all}"
exec "$loader" "$@"
