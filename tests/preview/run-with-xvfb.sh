#!/usr/bin/env bash
# Runs a Windows test program under Wine on an Xvfb display of its own, stopped afterwards. The
# prefix's server starts afresh on that display: Wine's desktop keeps the display it was made on.
# usage: run-with-xvfb.sh WINE_RUN_SCRIPT PROGRAM.exe [ARGS...]
set -u
source "$(dirname "$0")/../../tools/wine/rig.sh"
work=$(mktemp -d)
trap 'kill "${RIG_XVFB_PID:-}" 2>/dev/null; rm -rf "$work"' EXIT
rig_start_display "$work" || exit 1
rig_restart_server "$work" || exit 1
"$@"
