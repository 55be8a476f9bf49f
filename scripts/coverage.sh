#!/usr/bin/env bash
# Builds with --coverage, runs every test and prints line and branch coverage per folder.
#   scripts/coverage.sh [ctest -R pattern]
# COVERAGE_LABELS='^(sim|simmodel)$' runs only the suites of those test folders.
# Set COVERAGE_BUILD_DIR to reuse another coverage build directory. Threaded tests can
# leave a counter torn (gcov prints a negative count); such lines are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${COVERAGE_BUILD_DIR:-build/coverage}
if [ "$dir" = build/coverage ]; then
  cmake --preset coverage -G Ninja >/dev/null
fi
# COVERAGE_REPORT_ONLY=1: report the counts of the last run again.
if [ -z "${COVERAGE_REPORT_ONLY:-}" ]; then
  cmake --build "$dir" -j"$(nproc)"
  find "$dir" -name '*.gcda' -delete
  ctest --test-dir "$dir" -j"$(nproc)" --timeout 600 ${COVERAGE_LABELS:+-L "$COVERAGE_LABELS"} ${1:+-R "$1"} >"$dir/ctest.log" 2>&1 ||
    { tail -20 "$dir/ctest.log"; echo "coverage: some tests failed (see $dir/ctest.log)"; }
fi
grep -E 'tests passed|tests failed' "$dir/ctest.log" || true
gcovr --root . --object-directory "$dir" --filter 'src/' --filter 'tools/' --filter 'include/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  -j"$(nproc)" \
  --json-summary "$dir/coverage.json" >/dev/null
python3 - "$dir/coverage.json" <<'PY'
import json, os, sys
folders = {}
for f in json.load(open(sys.argv[1]))["files"]:
    d = folders.setdefault(os.path.dirname(f["filename"]), [0, 0, 0, 0])
    d[0] += f["line_covered"]; d[1] += f["line_total"]
    d[2] += f["branch_covered"]; d[3] += f["branch_total"]
def pct(a, b):
    return f"{100.0 * a / b:6.1f}" if b else "     -"
print(f"{'folder':32} {'lines':>6} {'line%':>6} {'branches':>8} {'branch%':>7}")
total = [0, 0, 0, 0]
for name in sorted(folders):
    c = folders[name]
    total = [t + v for t, v in zip(total, c)]
    print(f"{name:32} {c[1]:6} {pct(c[0], c[1])} {c[3]:8} {pct(c[2], c[3]):>7}")
print(f"{'total':32} {total[1]:6} {pct(total[0], total[1])} {total[3]:8} {pct(total[2], total[3]):>7}")
PY
