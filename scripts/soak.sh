#!/usr/bin/env bash
# Runs many calls in one process and reports what they leave behind: open
# descriptors, threads, resident memory, and the peak resident memory while
# one call captures a large reply. The TLS server runs in a child process.
#
# Usage: scripts/soak.sh [CALLS [MEGABYTES]]   (default 10000 and 100)
# Builds in build-soak/ unless TASKCLIENT_BUILD_DIR names a configured build.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TASKCLIENT_BUILD_DIR:-build-soak}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  scripts/install-deps.sh build-essential cmake libssl-dev libgtest-dev
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target taskclient_soak -j2 >/dev/null
timeout 900 "$build/tests/taskclient_soak" "${1:-10000}" "${2:-100}"
