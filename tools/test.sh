#!/usr/bin/env bash
# Sets up everything and runs every VARNOLT test: the formatting of every C and C++ file, the
# native build's tests, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# fuzzers for a bounded time, and the Windows build's tests under Wine (unit tests, the device
# link against the virtual generator, the whole program under Xvfb, varnoltctl.exe). Exits
# non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh

jobs=$(nproc)
summary="$root/build/test-summary.txt"
mkdir -p build
: >"$summary"

# Runs one ctest preset and keeps its closing line for the summary at the end.
run_ctest() {
  local preset=$1 log="$root/build/ctest-$1.log"
  local rc=0
  ctest --preset "$preset" 2>&1 | tee "$log" || rc=$?
  [ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
  grep -E 'tests passed|tests failed' "$log" | tail -n 1 | sed "s/^/$preset: /" >>"$summary" || true
  return $rc
}

status=0

# One style: every tracked C and C++ file as the one .clang-format has it. Counted as one test.
format_log="$root/build/format.log"
if git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror >"$format_log" 2>&1; then
  echo "format: 100% tests passed, 0 tests failed out of 1" >>"$summary"
else
  grep -E '^[^ ].*: (error|warning):' "$format_log" | cut -d: -f1 | sort -u | sed 's/^/format: not formatted: /'
  echo "format: 0% tests passed, 1 tests failed out of 1" >>"$summary"
  status=1
fi

for preset in native native-asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  run_ctest "$preset" || status=1
done

# A throwaway Wine prefix of this run's own; never the user's ~/.wine.
export WINEPREFIX="$root/build/wine/prefix" WINEARCH=win32 WINEDEBUG=-all
rm -rf "$root/build/wine"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
bash tools/wine/make-prefix.sh "$WINEPREFIX"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
run_ctest windows || status=1

echo
echo "Summary:"
cat "$summary"
passed=0; failed=0
while read -r line; do
  # "100% tests passed, 0 tests failed out of 12"
  n_fail=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/p' <<<"$line")
  n_all=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/p' <<<"$line")
  [ -n "$n_all" ] || continue
  passed=$((passed + n_all - n_fail)); failed=$((failed + n_fail))
done <"$summary"
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "total: $passed passed, $failed failed"
exit "$status"
