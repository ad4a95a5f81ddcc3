#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks into build-bench/ and runs
# every one of them against a local TLS server, then prints the summary of
# figures and ratios (bench/README.md says what each means). Extra arguments
# go to the benchmark binary, e.g. --benchmark_filter=Latency.
# TASKCLIENT_TLS=bearssl measures the library built on BearSSL (in
# build-bench-bearssl/); the floor and libcurl stay on OpenSSL.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build-essential cmake pkg-config binutils libssl-dev libbenchmark-dev libcurl4-openssl-dev
tls=${TASKCLIENT_TLS:-openssl}
dir=build-bench
[ "$tls" = openssl ] || dir=build-bench-$tls
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKCLIENT_BUILD_BENCH=ON -DTASKCLIENT_TLS="$tls" \
  -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j2 --target taskclient_bench
echo "== library TLS: $tls"
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr), $(openssl version)"
echo "== load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
exec timeout 1800 "$dir/bench/taskclient_bench" --benchmark_min_time=1 --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true "$@"
