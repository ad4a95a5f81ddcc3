#!/usr/bin/env bash
# The whole CTest suite (library, tools) on the build whose TLS is BearSSL
# (TASKCLIENT_TLS=bearssl, in build-bearssl/): every test that runs against
# OpenSSL on the main build runs against BearSSL here, over POSIX sockets.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev
dir=${TASKCLIENT_BEARSSL_BUILD_DIR:-build-bearssl}
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKCLIENT_TLS=bearssl >"$dir/taskclient-configure.log" 2>&1 ||
  { tail -n 20 "$dir/taskclient-configure.log"; exit 1; }
timeout 1200 cmake --build "$dir" -j2 >"$dir/taskclient-build.log" 2>&1 || { tail -n 40 "$dir/taskclient-build.log"; exit 1; }
if grep -i -E 'warning' "$dir/taskclient-build.log" | grep -v '/_deps/bearssl/' >/dev/null; then
  grep -i -E 'warning' "$dir/taskclient-build.log" | grep -v '/_deps/bearssl/' | sed -n 1,30p >&2
  echo "25-bearssl: warnings in the library's own sources" >&2
  exit 1
fi
echo "== CTest on the BearSSL build"
timeout 900 ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 | tail -n 4
