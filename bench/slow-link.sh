#!/usr/bin/env bash
# The slow-link benchmark of bench/README.md ("Many operations on a slow
# link"): ten calls, one sequence call and curl's one connection, through a
# relay that holds every piece of data a time in each direction, in front of
# a local TLS server that keeps connections alive. Both TLS paths, one after
# the other: the OpenSSL build (build-bench/) and the BearSSL build
# (build-bench-bearssl/), the folders scripts/bench.sh and CI use.
#
#   bench/slow-link.sh [--brief] [ROUNDS]
#
# The full run: 150 ms each way, ROUNDS (default 3) rounds of every
# contender, about two minutes per round on both paths together. --brief, as
# CI runs it: one round at 20 ms each way, a few seconds, to show that every
# contender still works; no speed is checked either way.
#
# Every run is in a private network namespace of its own (unshare --net, as
# root; sudo otherwise) with only its loopback interface up: nothing it does
# can reach another machine, and curl, told to send the service's host name
# to the relay, looks no name up.
set -euo pipefail
cd "$(dirname "$0")/.."
delay=150
rounds=3
if [ "${1:-}" = --brief ]; then
  delay=20
  rounds=1
  shift
fi
[ $# -eq 0 ] || rounds=$1
[[ $rounds =~ ^[1-9][0-9]*$ ]] && [ $# -le 1 ] || { echo "usage: $0 [--brief] [ROUNDS]" >&2; exit 2; }

scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libbenchmark-dev libcurl4-openssl-dev curl \
  iproute2 util-linux
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

for tls in openssl bearssl; do
  dir=build-bench
  [ "$tls" = openssl ] || dir=build-bench-$tls
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKCLIENT_BUILD_BENCH=ON -DTASKCLIENT_TLS="$tls" \
    -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF >/dev/null
  timeout 900 cmake --build "$dir" -j2 --target taskclient_slow_link >"$dir/slow-link-build.log" 2>&1 ||
    { tail -n 40 "$dir/slow-link-build.log" >&2; exit 1; }
done

echo "== slow link: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $(uname -sr), $(openssl version)," \
  "$(curl --version | sed -n 1p | cut -d' ' -f1-2); load average $(cut -d' ' -f1-3 /proc/loadavg)"
for tls in openssl bearssl; do
  dir=build-bench
  [ "$tls" = openssl ] || dir=build-bench-$tls
  # A minute and a half per round on the BearSSL path at 150 ms; the limit
  # leaves room for a loaded machine.
  timeout $((60 + rounds * 300)) "${as_root[@]}" unshare --net -- \
    bash -c 'ip link set lo up && exec "$@"' slow-link \
    "$dir/bench/taskclient-slow-link" --rounds="$rounds" --delay-ms="$delay"
done
