#!/usr/bin/env bash
# Sets up everything and runs every VARNOLT test: the formatting of every C and C++ file, every
# shell script through shellcheck, the native build's tests, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the server's tests under ThreadSanitizer (the web
# panel runs threads of its own), the fuzzers for a bounded time, the arm64 build's tests under
# qemu-aarch64, and the tests of both Windows builds under Wine (unit tests, the device link
# against the virtual generator, the whole program under Xvfb, varnoltctl.exe): the 32-bit build
# (the product) where this machine runs 32-bit programs, the 64-bit build under wine64 everywhere;
# then the release files (tools/package.sh), their tests, and a second packaging that must give the
# same bytes. Where 32-bit programs cannot run, the 32-bit build is still built and its files are
# checked, and one line says why its Wine tests did not run.
#
# Ends, on every way out, with one line `total: N passed, N failed` (`, N skipped` when a part did
# not run); a step that fails names itself and its error in one line before that. Exits non-zero
# when any test or step failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mkdir -p build
summary="$root/build/test-summary.txt"
: >"$summary"
passed=0 failed=0 skipped=0
jobs=$(nproc)

finish() {
  trap - EXIT
  local prefix
  for prefix in "$root"/build/wine/*/prefix; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  echo
  echo "Summary:"
  cat "$summary"
  local text="total: $passed passed, $failed failed"
  [ "$skipped" -eq 0 ] || text+=", $skipped skipped"
  echo "$text"
  # exit with no number would repeat the status that ended the script, not this one.
  [ "$failed" -eq 0 ] && exit 0
  exit 1
}
trap finish EXIT
trap 'echo "test: interrupted" >&2; failed=$((failed + 1)); exit 130' INT TERM

# PART PASSED FAILED [SKIPPED]: one line of the summary, added to the totals.
record() {
  local line="$1: $2 passed, $3 failed"
  [ "${4:-0}" -eq 0 ] || line+=", $4 skipped"
  echo "$line" >>"$summary"
  passed=$((passed + $2)) failed=$((failed + $3)) skipped=$((skipped + ${4:-0}))
}

# The line of a log that says what went wrong: the first error a compiler or a tool printed, else
# the first line that says something failed, else the last line.
error_line() {
  local line
  line=$(grep -m 1 -E '(^|[^A-Za-z])(error|fatal error|Error):' "$1" || true)
  [ -n "$line" ] || line=$(grep -m 1 -iE '(^|[^a-z])(error|fatal|failed|cannot|not found)' "$1" || true)
  [ -n "$line" ] || line=$(grep -v '^[[:space:]]*$' "$1" | tail -n 1)
  printf '%s\n' "${line:-no output}" | cut -c 1-300
}

# NAME COMMAND...: a set-up step, its output shown and kept in build/step-NAME.log. When it fails,
# one line names it and its error, and it counts as one failed test.
step() {
  local name=$1 log
  shift
  log="$root/build/step-${name//[^A-Za-z0-9.-]/_}.log"
  if "$@" 2>&1 | tee "$log"; then
    return 0
  fi
  echo "$name: failed: $(error_line "$log")" | tee -a "$summary"
  failed=$((failed + 1))
  return 1
}

# PART PRESET [CTEST ARGS...]: runs the preset's tests and adds its closing line to the totals.
run_ctest() {
  local part=$1 preset=$2 log="$root/build/ctest-$1.log" counts
  shift 2
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  # "96% tests passed, 1 tests failed out of 28"
  counts=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -n 1)
  if [ -z "$counts" ]; then
    echo "$part: failed: $(error_line "$log")" | tee -a "$summary"
    failed=$((failed + 1))
    return 1
  fi
  set -- $counts
  record "$part" $(($2 - $1)) "$1"
}

# PART COMMAND...: runs a Python unittest program and adds its counts to the totals.
run_unittest() {
  local part=$1 log="$root/build/unittest-$1.log" ran bad skip
  shift
  "$@" 2>&1 | tee "$log"
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -n 1)
  if [ -z "$ran" ]; then
    echo "$part: failed: $(error_line "$log")" | tee -a "$summary"
    failed=$((failed + 1))
    return 1
  fi
  # "FAILED (failures=1, errors=2, skipped=1)" or "OK (skipped=1)"
  bad=$(grep -oE '(failures|errors)=[0-9]+' "$log" | awk -F= '{ n += $2 } END { print n + 0 }')
  skip=$(grep -oE 'skipped=[0-9]+' "$log" | tail -n 1 | cut -d= -f2)
  record "$part" $((ran - ${bad:-0} - ${skip:-0})) "${bad:-0}" "${skip:-0}"
}

# PRESET: configures and builds it.
build_preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

# PART ARCH: a Wine prefix of this run's own for the part (never the user's ~/.wine), its server
# running; exports WINEPREFIX and WINEARCH.
use_prefix() {
  export WINEPREFIX="$root/build/wine/$1/prefix" WINEARCH=$2 WINEDEBUG=-all
  step "windows-$1: Wine prefix ($2)" bash tools/wine/make-prefix.sh "$WINEPREFIX"
}

step setup bash tools/setup.sh || exit

# One style: every tracked C and C++ file as the one .clang-format has it. Counted as one test.
format_log="$root/build/format.log"
if git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror >"$format_log" 2>&1; then
  record format 1 0
else
  grep -E '^[^ ].*: (error|warning):' "$format_log" | cut -d: -f1 | sort -u | sed 's/^/format: not formatted: /'
  record format 0 1
fi

# Every tracked shell script free of what shellcheck calls an error. Counted as one test.
shellcheck_log="$root/build/shellcheck.log"
if git ls-files -z '*.sh' | xargs -0 shellcheck -S error >"$shellcheck_log" 2>&1; then
  record shellcheck 1 0
else
  grep -E '^In .* line [0-9]+:$' "$shellcheck_log" | sed -E 's/^In (.*) line ([0-9]+):$/shellcheck: \1:\2/'
  record shellcheck 0 1
fi

native_built=1
for preset in native native-asan native-tsan fuzz; do
  if step "$preset: build" build_preset "$preset"; then
    run_ctest "$preset" "$preset"
  elif [ "$preset" = native ]; then
    native_built=0
  fi
done

rm -rf "$root/build/wine"
if [ "$native_built" -eq 0 ]; then
  # The Windows tests run the native tools beside the program (the generator, the pty shim).
  echo "windows: not run: the native build failed" | tee -a "$summary"
  exit
fi

# The arm64 build (Debian's aarch64 cross compilers): the portable unit tests and varnoltctl's
# tests against the native virtual generator, under qemu-aarch64; no sanitizers there.
# The set-up again first: the cross compilers go when another checkout's older set-up installs
# gcc-multilib, which cannot stand beside them (this one installs gcc-12-multilib instead).
if step "linux-arm64: build" eval 'bash tools/setup.sh && build_preset linux-arm64'; then
  run_ctest linux-arm64 linux-arm64
fi

# shellcheck source=wine/arch.sh
source tools/wine/arch.sh
x86_runs=1
host_runs_i386 "$root/build/native/tools/wine/varnolt-i386-probe" || x86_runs=0

# The 32-bit build, the product.
export WINEPREFIX="$root/build/wine/x86/prefix" WINEARCH=win32
if step "windows-x86: build" build_preset windows; then
  if [ "$x86_runs" -eq 1 ]; then
    use_prefix x86 win32 && run_ctest windows-x86 windows
  else
    # Only the checks that read its files; the rest needs 32-bit Wine.
    all=$(ctest --preset windows -N | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    files=$(ctest --preset windows -N -L '^file$' | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    echo "windows-x86: not run: this machine runs no 32-bit programs ($HOST_I386_REASON);" \
      "$((all - files)) tests under Wine skipped, its $files file checks run" | tee -a "$summary"
    run_ctest windows-x86-files windows -L '^file$'
    skipped=$((skipped + all - files))
  fi
fi

# The 64-bit build under wine64, on every x86-64 host.
export WINEPREFIX="$root/build/wine/x64/prefix" WINEARCH=win64
if step "windows-x64: build" build_preset windows-x64; then
  use_prefix x64 win64 && run_ctest windows-x64 windows-x64
fi

# The release files and their tests: the zips, the Debian package, and the installers under Wine
# (the x86 one only where 32-bit programs run).
if step "packaging: build" bash tools/package.sh; then
  rm -rf build/dist-first
  cp -a dist build/dist-first
  run_unittest packaging env VARNOLT_HOST_RUNS_I386="$x86_runs" \
    python3 tests/packaging/test_packages.py dist
  # The same bytes again: a second packaging, minutes later, reusing the builds, compared file by
  # file with the first (tools/reproduce.sh does it from two fresh clones in two folders).
  if step "reproducible: second packaging" bash tools/package.sh; then
    same=0 differ=0
    for name in $( (ls build/dist-first; ls dist) | sort -u); do
      if cmp -s "build/dist-first/$name" "dist/$name"; then
        same=$((same + 1))
      else
        echo "reproducible: $name: not the same bytes in the second packaging" | tee -a "$summary"
        differ=$((differ + 1))
      fi
    done
    record reproducible "$same" "$differ"
  fi
fi
