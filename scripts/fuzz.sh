#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a while.
#   scripts/fuzz.sh [seconds-per-target] [target-name-filter]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
filter=${2:-}
cmake --preset fuzz -G Ninja >/dev/null
cmake --build build/fuzz -j"$(nproc)"
for t in build/fuzz/bin/fuzz_*; do
  name=$(basename "$t")
  [ -n "$filter" ] && [[ "$name" != *"$filter"* ]] && continue
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/${name#fuzz_}
  echo "== $name (${secs}s)"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  "$t" -max_total_time="$secs" -print_final_stats=1 "${args[@]}" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
done
