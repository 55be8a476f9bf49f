#!/usr/bin/env bash
# Per-test coverage: for every ctest test, the lines and branches of src/, include/ and
# tools/ that no other test covers. Evidence for pruning a suite: a test with nothing
# unique adds no coverage (it may still check values nothing else checks; read it first).
#
#   scripts/test-redundancy.sh [build-dir [report-dir]]
#
# build-dir   default build/redundancy, configured and built with the "redundancy" preset
#             (clang, -O0, source-based coverage). Another directory must be built the same
#             way (see that preset); it is used as it is.
# report-dir  default <build-dir>/redundancy/report.
# JOBS=2      tests and exports at a time.
# TIMEOUT_SCALE=3  times each test's ctest TIMEOUT (-O0 and counters slow tests down).
# NOTES=file  text appended to the report's README.txt (what was measured, caveats).
# ONLY=regex  only the tests whose name matches (a trial run; uniqueness is then among those).
# STAGES=run,export,report  the stages to do. Each keeps its results under
#             <build-dir>/redundancy and skips what it has (an interrupted run goes on);
#             once any program or library is rebuilt, every test is measured again.
# Needs clang, llvm-profdata, llvm-cov and python3. Prints the summary per test folder.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build/redundancy}")
out=${2:-$build/redundancy/report}
if [ "$build" = "$src/build/redundancy" ]; then
  (cd "$src" && cmake --preset redundancy -G Ninja >/dev/null)
  cmake --build "$build" -j"${JOBS:-2}"
fi
for tool in llvm-profdata llvm-cov python3; do
  command -v $tool >/dev/null || { echo "test-redundancy: $tool is missing" >&2; exit 1; }
done
exec python3 "$src/scripts/test-redundancy.py" --build "$build" --source "$src" --out "$out" \
  --jobs "${JOBS:-2}" --stages "${STAGES:-run,export,report}" \
  --timeout-scale "${TIMEOUT_SCALE:-3}" ${ONLY:+--only "$ONLY"} ${NOTES:+--notes "$NOTES"}
