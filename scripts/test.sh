#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end suite through CTest, then each further stage in scripts/stages/
# in name order (each stage installs what it needs itself). Any failure stops
# the run with a non-zero status; the last line sums up what ran.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir build --output-on-failure -j2 | tee "$log"
tests=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -n 1)
stages=0
for stage in scripts/stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== stage: $(basename "$stage")"
  bash "$stage"
  stages=$((stages + 1))
done
echo "ctest: ${tests:-0} tests, then ${stages} stages, all passed"
echo "tests: $(( ${tests:-0} + stages )) passed, 0 failed"
