#!/usr/bin/env bash
# Builds and runs the CIM client benchmarks (Release): whole-process figures of cimq and
# the library against a local server with their floors, the parser designs, and the
# plug-in's volume lookup over a simulated array of 10,000 volumes.
#
#   bench/client/run.sh [--quick]     (--quick: 10,000 volumes only, three runs)
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset bench -G Ninja > /dev/null
cmake --build build/bench --target bench_enumerate bench_parsers bench_volume_lookup cimq
if [ "${1:-}" = "--quick" ]; then
  build/bench/bin/bench_enumerate --sizes 10000 --runs 3
else
  build/bench/bin/bench_enumerate
fi
build/bench/bin/bench_parsers
build/bench/bin/bench_volume_lookup
