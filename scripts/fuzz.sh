#!/usr/bin/env bash
# Runs every libFuzzer target for a while: scripts/fuzz.sh [seconds per target, default 600]
# Seeds come from tests/fuzz/corpus/<target>/; what a target finds is written to
# build/fuzz/findings/<target>/ and should become a unit test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

scripts/setup.sh native
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORLIN_FUZZ=ON >/dev/null
targets=$(cd tests/fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')
cmake --build build/fuzz -j"$(nproc)" --target $targets

status=0
for target in $targets; do
  corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  seeds=tests/fuzz/corpus/${target%_fuzz}
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "=== $target, ${seconds}s"
  if ! build/fuzz/tests/fuzz/$target "$corpus" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$findings/" -print_final_stats=1 2>build/fuzz/$target.log; then
    status=1
    echo "$target: FINDING, see $findings and build/fuzz/$target.log"
  fi
  grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' build/fuzz/$target.log | tail -2 || true
done
exit $status
