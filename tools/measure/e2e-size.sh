#!/usr/bin/env bash
# Size of varnolt.exe and the DLLs it imports (all of them must be Windows' own), read from its
# import table with objdump.
# Usage: e2e-size.sh [WINDOWS_BUILD]   (default build/windows)
set -euo pipefail
build=${1:-$(dirname "$0")/../../build/windows}
exe="$build/app/varnolt.exe"
[ -f "$exe" ] || { echo "e2e-size: no $exe (build the Windows build first)" >&2; exit 2; }
bytes=$(stat -c %s "$exe")
echo "varnolt.exe: $bytes bytes ($(( (bytes + 1023) / 1024 )) KiB; target under 512 KiB)"
echo "imported DLLs:"
i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | sed 's/^/  /'
# Everything a statically linked program may need from the system, and nothing of a toolchain.
own='^(kernel32|user32|gdi32|comctl32|setupapi|advapi32|shell32|msvcrt|ntdll|ole32|shlwapi)\.dll$'
others=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | grep -viE "$own" || true)
if [ -n "$others" ]; then
  echo "not Windows' own: $others"
  exit 1
fi
echo "all of them Windows' own"
