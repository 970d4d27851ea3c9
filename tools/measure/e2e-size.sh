#!/usr/bin/env bash
# Size of varnolt.exe and the DLLs it imports (all of them must be Windows' own), read from its
# import table with objdump, for each build given (default: the 32-bit and the 64-bit build, those
# that are built). Reads files only: runs on any host.
# Usage: e2e-size.sh [WINDOWS_BUILD...]   (default build/windows build/windows-x64)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=windows_build.sh
source "$root/tools/measure/windows_build.sh"
[ $# -gt 0 ] || set -- "$root/build/windows" "$root/build/windows-x64"
# Everything a statically linked program may need from the system, and nothing of a toolchain.
own='^(kernel32|user32|gdi32|comctl32|setupapi|advapi32|shell32|msvcrt|ntdll|ole32|shlwapi)\.dll$'
status=0 measured=0
for build in "$@"; do
  exe="$build/app/varnolt.exe"
  [ -f "$exe" ] || continue
  measured=$((measured + 1))
  case $(measure__pe_arch "$exe") in
    win32) bits=32 objdump=i686-w64-mingw32-objdump ;;
    win64) bits=64 objdump=x86_64-w64-mingw32-objdump ;;
    *) echo "$exe: no Windows program"; status=1; continue ;;
  esac
  bytes=$(stat -c %s "$exe")
  echo "$exe ($bits-bit): $bytes bytes ($(((bytes + 1023) / 1024)) KiB; target under 512 KiB)"
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f)
  echo "  imports: $(tr '\n' ' ' <<<"$dlls")"
  others=$(grep -viE "$own" <<<"$dlls" || true)
  if [ -n "$others" ]; then
    echo "  not Windows' own: $others"
    status=1
  fi
done
[ "$measured" -gt 0 ] || { echo "e2e-size: no varnolt.exe in $* (build a Windows preset first)" >&2; exit 2; }
exit "$status"
