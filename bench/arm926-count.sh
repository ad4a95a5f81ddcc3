#!/usr/bin/env bash
# The device-cost estimate of bench/README.md ("On a CE-class CPU"): how many
# instructions one listing call executes on the BearSSL path on an ARMv5TE
# CPU, TLS handshake included.
#
#   bench/arm926-count.sh [RUNS]
#
# Builds bench/listing_calls.cpp for armel (cmake/armel-linux.cmake, TLS by
# BearSSL), the local stand-in for the build machine and the counting plugin
# bench/arm926_insns.c, then runs the program under qemu-arm as an ARM926
# with the plugin, which counts every guest instruction executed. Each run
# counts a process that signs in and makes no listing call, and one that
# signs in and makes one; the difference is one call. The stand-in runs
# natively, outside the count, a fresh one for each process. RUNS (default 5)
# pairs are counted; it prints each and their median. Installs what it needs;
# builds in build-arm926/ (or $TASKCLIENT_COUNT_DIR); a second or two per pair
# once built.
#
# qemu's log of every executed block with one instruction per block
# (-singlestep -d nochain,exec: one "Trace" line per instruction) gives the
# same count, to 0.01 %, but a few hundred times slower: too slow for the
# stand-in, which drops a client that stalls for ten seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${TASKCLIENT_COUNT_DIR:-build-arm926}
runs=${1:-5}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
jobs=2
mkdir -p "$out"

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
architectures=$(dpkg --print-foreign-architectures)
grep -qx -e armel <<<"$architectures" || "${as_root[@]}" dpkg --add-architecture armel
scripts/install-deps.sh cmake make g++ libssl-dev \
  crossbuild-essential-armel libc6:armel libstdc++6:armel libatomic1:armel qemu-user
openssl=$(scripts/armel-openssl.sh "$out/armel-openssl")

build() {
  local dir=$1 target=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir-configure.log" 2>&1 ||
    { tail -n 40 "$dir-configure.log" >&2; exit 1; }
  nice cmake --build "$dir" -j"$jobs" --target "$target" >"$dir-build.log" 2>&1 ||
    { tail -n 40 "$dir-build.log" >&2; exit 1; }
}
echo "== building the stand-in (build machine) and the calling program (armel, BearSSL)"
build "$out/host" taskclient_local_service -DTASKCLIENT_BUILD_TESTS=OFF
plugin=$out/arm926_insns.so
gcc -std=c11 -Wall -Wextra -Wpedantic -Werror -O2 -shared -fPIC -fvisibility=hidden -o "$plugin" bench/arm926_insns.c
build "$out/armel" taskclient_listing_calls -DCMAKE_TOOLCHAIN_FILE=cmake/armel-linux.cmake \
  -DTASKCLIENT_TLS=bearssl -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_BENCH=ON \
  -DTASKCLIENT_ARMEL_OPENSSL="$openssl"
service=$out/host/tools/taskclient-local-service
program=$out/armel/bench/taskclient-listing-calls

work=$(mktemp -d)
service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}
trap 'stop_service; rm -rf "$work"' EXIT

# Sets `instructions` to what the program executes making $1 listing calls.
# Each stand-in writes its port to a file of its own: the shell creates the
# file in the background child, so a file shared between starts could still
# hold the previous stand-in's port when the loop below first reads it.
instructions=
starts=0
count() {
  local calls=$1 port='' said
  starts=$((starts + 1))
  said=$work/service.$starts.out
  "$service" --port 0 --code count-code --quiet >"$said" 2>"$work/service.log" &
  service_pid=$!
  for _ in $(seq 100); do
    # The code's line comes after the port's: once it is there, so is the port.
    if grep -q '^authorization code: ' "$said" 2>/dev/null; then
      port=$(sed -n 's/^listening on 127\.0\.0\.1://p' "$said")
      break
    fi
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$work/service.log" >&2; echo "arm926-count: the stand-in did not start" >&2; exit 1; }
  rm -f "$work/count"
  qemu-arm -cpu arm926 -plugin "$plugin,out=$work/count" -E "LD_LIBRARY_PATH=$openssl/lib/arm-linux-gnueabi" \
    "$program" "$port" count-code "$calls" "$work" || { echo "arm926-count: the run with $calls calls failed" >&2; exit 1; }
  instructions=$(cat "$work/count")
  stop_service
}

echo "== counting ($runs pairs)"
differences=()
for ((run = 1; run <= runs; ++run)); do
  started=$SECONDS
  count 0
  without=$instructions
  count 1
  with=$instructions
  differences+=($((with - without)))
  echo "  run $run: signed in only $without, with one listing call $with: the call $((with - without)) ($((SECONDS - started)) s)"
done
median=$(printf '%s\n' "${differences[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
echo "one listing call on the ARM926: $median instructions (median of $runs);" \
  "at 400 MHz and one instruction per cycle $(awk -v n="$median" 'BEGIN { printf "%.3f", n / 400e6 }') s of CPU"

# One sequence call of ten listing GETs (SendRequests, one connection)
# against one listing call, with certificate checking off (the build above)
# and on. Both are counted against taskclient-count-server (bench/
# count_server.cpp, built for and running on the build machine, outside the
# count), which keeps a connection alive for every request on it. With
# checking on, the server presents a chain shaped like the service's ECDSA
# chain: a P-256 certificate for localhost, a P-256 intermediate and a P-384
# root made here, the build's only trust anchor; the program names the server
# "localhost", since BearSSL's checker matches names, not addresses.
count_server=$out/taskclient-count-server
g++ -std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror -I. -o "$count_server" bench/count_server.cpp \
  testing/tls_server.cpp -lssl -lcrypto -pthread
ca=$out/count-ca
mkdir -p "$ca"
if ! { [ -s "$ca/ca.key" ] && openssl x509 -in "$ca/ca.pem" -noout -checkend 86400 >/dev/null 2>&1; }; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-384 -sha384 -nodes -keyout "$ca/ca.key" \
    -out "$ca/ca.pem" -days 30 -subj "/CN=taskclient count root" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
fi
echo "== building the calling program with certificate checking on (armel, BearSSL)"
build "$out/armel-verify" taskclient_listing_calls -DCMAKE_TOOLCHAIN_FILE=cmake/armel-linux.cmake \
  -DTASKCLIENT_TLS=bearssl -DTASKCLIENT_VERIFY_SERVER=ON -DTASKCLIENT_TRUST_ANCHORS="$ca/ca.pem" \
  -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_BENCH=ON \
  -DTASKCLIENT_ARMEL_OPENSSL="$openssl"
verifying_program=$out/armel-verify/bench/taskclient-listing-calls

# Sets `instructions` to what program $1 executes signing in and then making
# $2 operations, against a fresh count server started with the options in
# `server_options`; the program's own options follow ($3...). Each server
# writes its port to a file of its own.
server_options=()
count_with_server() {
  local calls_program=$1 calls=$2 port='' announced
  shift 2
  announced=$(mktemp "$work/count-server.XXXXXX")
  TASKCLIENT_TEST_CA_KEY=$ca/ca.key TASKCLIENT_TEST_CA_CERT=$ca/ca.pem \
    "$count_server" "${server_options[@]}" >"$announced" 2>"$work/count-server.log" &
  service_pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1://p' "$announced")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$work/count-server.log" >&2; echo "arm926-count: the count server did not start" >&2; exit 1; }
  rm -f "$work/count"
  qemu-arm -cpu arm926 -plugin "$plugin,out=$work/count" -E "LD_LIBRARY_PATH=$openssl/lib/arm-linux-gnueabi" \
    "$calls_program" "$@" "$port" count-code "$calls" "$work" ||
    { echo "arm926-count: the run with $calls operation(s) ($*) failed" >&2; exit 1; }
  instructions=$(cat "$work/count")
  stop_service
}

median_of() {
  printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"
}

# $1: what the mode is called; $2: the program; the program's options follow.
count_sequence_against_listing() {
  local mode=$1 calls_program=$2 run started without listing sequence
  shift 2
  local listings=() sequences=()
  echo "== counting a sequence of ten GETs against a listing call, $mode ($runs runs)"
  for ((run = 1; run <= runs; ++run)); do
    started=$SECONDS
    count_with_server "$calls_program" 0 "$@"
    without=$instructions
    count_with_server "$calls_program" 1 "$@"
    listing=$((instructions - without))
    count_with_server "$calls_program" 1 --sequence "$@"
    sequence=$((instructions - without))
    listings+=("$listing")
    sequences+=("$sequence")
    echo "  run $run: signed in only $without; one listing call $listing; one sequence of ten GETs $sequence" \
      "($((SECONDS - started)) s)"
  done
  listing=$(median_of "${listings[@]}")
  sequence=$(median_of "${sequences[@]}")
  echo "$mode: one listing call $listing instructions, one sequence of ten GETs $sequence (medians of $runs);" \
    "sequence/listing $(awk -v s="$sequence" -v l="$listing" 'BEGIN { printf "%.3f", s / l }') (target at most 1.5)," \
    "$(awk -v s="$sequence" 'BEGIN { printf "%.1f", s / 10e6 }') million per GET"
}

server_options=()
count_sequence_against_listing "checking off" "$program"
server_options=(--chain)
count_sequence_against_listing "checking on" "$verifying_program" --host=localhost
