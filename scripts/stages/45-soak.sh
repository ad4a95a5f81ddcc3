#!/usr/bin/env bash
# 10,000 calls in one process and one 100 MB reply: descriptors, threads and
# resident memory before and after (scripts/soak.sh), on the build
# scripts/test.sh made.
set -euo pipefail
cd "$(dirname "$0")/../.."
TASKCLIENT_BUILD_DIR="${TASKCLIENT_BUILD_DIR:-build}" scripts/soak.sh 10000 100
