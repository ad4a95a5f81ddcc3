#!/usr/bin/env bash
# Installs what is missing and builds libtaskclient.so into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
echo "Built: $(ls build/libtaskclient.so.*.*.*)"
