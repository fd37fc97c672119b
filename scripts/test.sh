#!/usr/bin/env bash
# Every test: installs what is missing, builds, then runs each suite: the layout check
# (clang-format), the native suite (unit tests under AddressSanitizer and UBSan, the POSIX serial
# port, the simulated modem's tests, the front end against the simulated modem), the cross-check
# of the decoder against an established SMS library, the Windows builds under Wine, Darvello,
# and the packages.
#
# Every suite named here runs; one whose runner is missing or not executable fails the run. A
# suite (or a part of one) that cannot run on this machine prints a line with SKIPPED and the
# reason, and is counted as skipped. The last line counts suites passed, failed and skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all || { echo "setup failed"; exit 1; }

passed=0
failed=0
skipped=0
failures=()
logdir=$(mktemp -d)
trap 'rm -rf "$logdir"' EXIT

# suite NAME COMMAND...: runs one suite, shows its output, and counts it. SKIPPED lines in its
# output count as skipped parts; the suite itself passes or fails by its exit status.
suite() {
  local name=$1
  shift
  printf '\n=== %s\n' "$name"
  local log=$logdir/suite.log started=$SECONDS
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  printf -- '--- %s: %d s\n' "$name" $((SECONDS - started))
  local skips
  skips=$(grep -c 'SKIPPED' "$log" || true)
  skipped=$((skipped + skips))
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name (exit status $rc)")
  fi
}

# runner PATH: fails the run when a suite's runner went missing or lost its run bit.
runner() {
  [ -x "$1" ] && return 0
  printf '\n=== %s\nFAILED: %s is missing or not executable\n' "$1" "$1"
  failed=$((failed + 1))
  failures+=("$1 missing")
  return 1
}

layout() {
  git ls-files '*.cpp' '*.hpp' '*.h' | xargs clang-format --dry-run -Werror
}

# Most of the suite waits on a simulated modem rather than computing, so ctest runs three tests
# a core.
native() {
  local jobs=$(($(nproc) * 3))
  cmake --preset linux >/dev/null && cmake --build --preset linux -j"$(nproc)" &&
    ctest --preset linux -j"$((jobs > 12 ? 12 : jobs))"
}

windows_builds() {
  local preset
  for preset in mingw32 mingw64; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$(nproc)" || return 1
  done
}

packages() { scripts/package.sh && tests/package/run.sh; }

suite "layout (clang-format)" layout
suite "native build and tests (AddressSanitizer, UBSan)" native
runner tests/crosscheck/run.sh &&
  suite "decoder cross-check" tests/crosscheck/run.sh build/linux/cli/quorlin
suite "Windows builds" windows_builds

# A kernel without 32-bit support cannot run wine32; QUORLIN_EMULATE_I386=1 runs 32-bit programs
# through qemu instead (slow: the 32-bit suites then take about half an hour).
if [ "${QUORLIN_EMULATE_I386:-0}" = 1 ]; then
  scripts/enable-i386.sh
  export DARVELLO_REQUIRE_32=1
fi

runner tests/wine/run.sh && suite "Windows tests under Wine" tests/wine/run.sh
runner tests/darvello/run.sh && suite "Darvello under Wine and Xvfb" tests/darvello/run.sh
runner tests/package/run.sh && runner scripts/package.sh &&
  suite "packages: the Debian package and the Windows ZIP, installed and used" packages

printf '\n'
for failure in "${failures[@]}"; do echo "FAILED: $failure"; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
