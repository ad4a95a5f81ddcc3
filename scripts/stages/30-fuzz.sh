#!/usr/bin/env bash
# Each libFuzzer target for a short while (scripts/fuzz.sh; 20 s each here,
# 60 s each by default when run by hand).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/fuzz.sh "${TASKCLIENT_FUZZ_SECONDS:-20}"
