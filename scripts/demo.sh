#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the simulated modem with the sample
# messages, and reads them, first through the command-line front end, then through the
# automation component itself under Wine, as a late-bound script host drives it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)"

printf '\n=== sample PDUs decoded by "quorlin decode"\n'
grep -v '^#' samples/pdus.txt | grep -v '^$' | build/linux/cli/quorlin decode

# shellcheck source=lib.sh
. scripts/lib.sh
workdir=$(mktemp -d /tmp/quorlin-demo.XXXXXX)
cleanup() {
  modem_stop_all
  rm -rf "$workdir"
}
trap cleanup EXIT

modem_start "$workdir" simulator/samples/demo-store.txt --save-store "$workdir/store-left.txt" \
  --link "$workdir/modem"

printf '\n=== the simulated modem read by "quorlin read"\n'
build/linux/cli/quorlin read --device "$workdir/modem"
modem_stop_all

if [ -x scripts/demo-windows.sh ]; then
  printf '\n=== the automation component "AddIn.Quorlin" under Wine, driven from VBScript\n'
  for preset in mingw32 mingw64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
  done
  scripts/demo-windows.sh
fi
