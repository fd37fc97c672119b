#!/usr/bin/env bash
# Every test: installs what is missing, builds, then runs the native suite (unit tests under
# AddressSanitizer and UBSan, the simulated modem's tests, the front end against the simulated
# modem), the cross-check of the decoder against an established SMS library, the Windows
# builds under Wine, and the packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

step() { printf '\n=== %s\n' "$*"; }

step "native build (AddressSanitizer, UBSan)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)"

step "native tests"
ctest --preset linux -j"$(nproc)"

step "decoder cross-check"
if [ -x tests/crosscheck/run.sh ]; then tests/crosscheck/run.sh build/linux/cli/quorlin; fi

step "Windows builds"
for preset in mingw32 mingw64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
done

# A kernel without 32-bit support cannot run wine32; QUORLIN_EMULATE_I386=1 runs 32-bit programs
# through qemu instead (slow: the 32-bit suites then take about half an hour).
if [ "${QUORLIN_EMULATE_I386:-0}" = 1 ]; then
  scripts/enable-i386.sh
  export DARVELLO_REQUIRE_32=1
fi

if [ -x tests/wine/run.sh ]; then
  step "Windows tests under Wine"
  tests/wine/run.sh
fi
if [ -x tests/darvello/run.sh ]; then
  step "Darvello under Wine and Xvfb"
  tests/darvello/run.sh
fi

if [ -x tests/package/run.sh ]; then
  step "packages: the Debian package and the Windows ZIP, installed and used"
  scripts/package.sh
  tests/package/run.sh
fi

step "all tests passed"
