#!/usr/bin/env bash
# Line coverage of lib/ by the unit, command-line and corpus-replay tests: the `coverage` preset
# builds with clang's source-based coverage, ctest writes the profiles, llvm-profdata merges them
# and llvm-cov reports per file. Prints the table, then "Line coverage of lib/: N.NN%".
# Usage: tools/coverage.sh [MINIMUM]   -- with MINIMUM (a percentage), fails below it.
set -euo pipefail
cd "$(dirname "$0")/.."
minimum=${1:-}
profdata=${LLVM_PROFDATA:-llvm-profdata-14}
cov=${LLVM_COV:-llvm-cov-14}
build=build/coverage

cmake --preset coverage >/dev/null
cmake --build --preset coverage
rm -rf "$build/profiles"
# A failing test still leaves its profile; the figure is reported either way, the status kept.
tests_status=0
ctest --preset coverage >"$build/ctest.log" 2>&1 || tests_status=$?
tail -n 3 "$build/ctest.log"
"$profdata" merge -sparse "$build"/profiles/*.profraw -o "$build/coverage.profdata"

# Every binary that runs code of lib/: the program, the unit tests, the fuzz-corpus replays.
binaries=("$build/dorvex")
for exe in "$build"/tests/test_* "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] && [ -f "$exe" ] && binaries+=(-object "$exe")
done
"$cov" report -instr-profile="$build/coverage.profdata" "${binaries[@]}" "$PWD/lib" \
  | sed "s|$PWD/||" | tee "$build/report.txt"
figure=$(awk '$1 == "TOTAL" { printf "%.2f", 100 * ($8 - $9) / $8 }' "$build/report.txt")
echo "Line coverage of lib/: $figure%"
if [ "$tests_status" != 0 ]; then
  echo "tests failed under coverage (status $tests_status); see $build/ctest.log"
  exit "$tests_status"
fi
if [ -n "$minimum" ] && awk -v f="$figure" -v m="$minimum" 'BEGIN { exit !(f < m) }'; then
  echo "below the minimum of $minimum%"
  exit 1
fi
