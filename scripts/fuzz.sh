#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a while.
#   scripts/fuzz.sh [seconds-per-target] [target-name-filter]
# Seeds: fuzz/seeds, plus those derived from the recorded CIM-XML exchanges
# (RKSO_WIRE_DIR, by default the folder next to the repository) when present.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
filter=${2:-}
cmake --preset fuzz -G Ninja >/dev/null
cmake --build build/fuzz -j"$(nproc)"
wire=${RKSO_WIRE_DIR:-$(ls -d ../shared/cim-wire/*/ 2>/dev/null | head -1)}
derived=build/fuzz/derived-seeds
rm -rf "$derived"
if [ -n "$wire" ] && [ -d "$wire" ]; then
  python3 fuzz/derive_seeds.py "$wire" "$derived"
fi
for t in build/fuzz/bin/fuzz_*; do
  name=$(basename "$t")
  [ -n "$filter" ] && [[ "$name" != *"$filter"* ]] && continue
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  echo "== $name (${secs}s)"
  args=("$corpus")
  for seeds in "fuzz/seeds/${name#fuzz_}" "$derived/${name#fuzz_}"; do
    [ -d "$seeds" ] && args+=("$seeds")
  done
  "$t" -max_total_time="$secs" -print_final_stats=1 "${args[@]}" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
done
