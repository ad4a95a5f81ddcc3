#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end suite through CTest, then each further stage in scripts/stages/
# in name order (each stage installs what it needs itself).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j2
for stage in scripts/stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== stage: $(basename "$stage")"
  bash "$stage"
done
