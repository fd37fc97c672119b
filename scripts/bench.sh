#!/usr/bin/env bash
# Every benchmark, each figure printed as a ratio measured in the same run: decoding (in memory
# and a 200,000-line file end to end) against libGammu, reading a full store from the simulated
# modem against the line time and gammu, an exchange with a modem that answers after 300 ms,
# peak memory. Writes docs/benchmarks.md and docs/read-time.png. Not part of the tests; takes a
# few minutes.
#   scripts/bench.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
# shellcheck source=lib.sh
. scripts/lib.sh
apt_install libgammu-dev gammu gnuplot-nox time pkg-config

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORLIN_BENCH=ON \
  -DQUORLIN_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)"

python3 bench/run_benchmarks.py --build build/bench --docs docs "$@"
