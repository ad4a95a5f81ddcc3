#!/usr/bin/env bash
# Benchmarks, briefly: builds them and runs each one for a moment, so that a
# change that breaks a benchmark (or makes the library's own code allocate on
# the heap, which the benchmark binary reports as a failure) shows in CI. The
# figures themselves come from a full run of scripts/bench.sh on a quiet
# machine and are kept in bench/README.md (bench/slow-link.sh without --brief
# for the slow-link figures).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake pkg-config binutils libssl-dev libbenchmark-dev libcurl4-openssl-dev
# Both TLS paths: OpenSSL (build-bench/) and BearSSL (build-bench-bearssl/,
# where a call must also stay within 40 KB of stack).
for tls in openssl bearssl; do
  dir=build-bench
  [ "$tls" = openssl ] || dir=build-bench-$tls
  echo "== benchmarks, library TLS: $tls"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKCLIENT_BUILD_BENCH=ON -DTASKCLIENT_TLS="$tls" \
    -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF >/dev/null
  timeout 900 cmake --build "$dir" -j2 --target taskclient_bench taskclient_slow_link
  timeout 300 "$dir/bench/taskclient_bench" --benchmark_min_time=0.01 --benchmark_color=false
done
# The slow-link benchmark, one round on a link of 20 ms each way: every
# contender (ten calls, one sequence call, curl's one connection) must
# complete with every reply whole; no speed is checked.
bench/slow-link.sh --brief
