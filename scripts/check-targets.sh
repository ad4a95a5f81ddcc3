#!/usr/bin/env bash
# The device build, checked by cross-compiling on this machine:
#   1. Windows: the core with each Windows platform layer (TASKCLIENT_TLS
#      native: the device's secure sockets; bearssl: BearSSL over Winsock),
#      cross-compiled with MinGW-w64 (32-bit x86) standing in for the device
#      compiler, warning-free, into taskclient.dll; its export table holds the
#      fourteen functions at ordinals 1-14 as __stdcall, exactly what the .def
#      lists, it needs no DLL of the compiler's runtime, and no constructor of
#      the library runs when it is loaded.
#   2. C++98: the core, the exports and every platform layer compile with
#      -std=c++98 -pedantic-errors -Werror, as Visual Studio 2005 to 2013
#      need them, Windows CE's code (UNDER_CE) included.
#   3. A CE-class CPU: the BearSSL build (BearSSL's 32-bit code paths) and
#      its unit tests cross-compiled for ARMv5TE (Debian armel, soft float)
#      and run under qemu-arm as an ARM926EJ-S (pointer size, alignment,
#      unsigned plain char, and no instruction that CPU lacks).
# Installs what it needs. Builds in build-targets/ (or $TASKCLIENT_TARGETS_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${TASKCLIENT_TARGETS_DIR:-build-targets}
jobs=2
started=$SECONDS

step() { echo "== check-targets: $* ($((SECONDS - started)) s)"; }

# Fails when a build log holds a compiler or linker warning about the
# library's own sources (BearSSL's code compiles with its own habits).
no_warnings() {
  if grep -i -E 'warning|note:' "$1" | grep -v '/_deps/bearssl/' >/dev/null; then
    grep -i -E 'warning|note:' "$1" | grep -v '/_deps/bearssl/' | sed -n 1,60p >&2
    echo "check-targets: warnings in $1" >&2
    exit 1
  fi
}

step "installing what is missing"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
architectures=$(dpkg --print-foreign-architectures)
grep -qx -e armel <<<"$architectures" || "${as_root[@]}" dpkg --add-architecture armel
# OpenSSL for armel is unpacked, not installed (scripts/armel-openssl.sh);
# libatomic1:armel is what Debian's armel libcrypto needs beside libc.
scripts/install-deps.sh cmake make g++ \
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
  crossbuild-essential-armel libc6:armel libstdc++6:armel libatomic1:armel libgtest-dev:armel qemu-user
mkdir -p "$out"

for tls in native bearssl; do
  step "Windows build (MinGW-w64 i686), TLS $tls"
  dir="$out/mingw-$tls"
  rm -rf "$dir"
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTASKCLIENT_TLS="$tls" >"$dir-configure.log"
  timeout 900 cmake --build "$dir" -j"$jobs" --target taskclient >"$dir-build.log" 2>&1 ||
    { tail -n 40 "$dir-build.log" >&2; exit 1; }
  no_warnings "$dir-build.log"
  dll="$dir/taskclient.dll"
  scripts/check-dll-exports.sh "$dll" src/platform/dll/taskclient.def
  imports=$(i686-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ { print $3 }')
  echo "  imports: $(tr '\n' ' ' <<<"$imports")"
  if grep -i -E '^(libgcc|libstdc|libwinpthread)' <<<"$imports"; then
    echo "check-targets: taskclient.dll needs a DLL of the compiler's runtime" >&2
    exit 1
  fi
  # GCC makes a _GLOBAL__sub_I_ function, run from .ctors at load, for any
  # object with a dynamic initialiser or a destructor to register.
  initialisers=$(i686-w64-mingw32-nm "$dll" | awk '$3 ~ /^_?_GLOBAL__sub_I/ { print $3 }')
  if [ -n "$initialisers" ]; then
    echo "check-targets: code runs when taskclient.dll is loaded: $initialisers" >&2
    exit 1
  fi
  echo "  no constructor of the library runs at load"
done

step "C++98 compile of the library"
# Every library source as C++98, as Visual Studio 2005 to 2013 take it, with
# the library's warnings as errors: on Linux with each TLS, and for Windows
# with each TLS, with and without Windows CE's defines, each with and without
# the certificate check.
core=(src/exchange/*.cpp src/readers/*.cpp src/text/*.cpp src/tokens/*.cpp src/tasks/*.cpp src/exports.cpp src/api_endpoint.cpp
  src/platform/system_io_platform.cpp)
strict=(-std=c++98 -pedantic-errors -Werror -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
  -fno-exceptions -fno-rtti -fno-threadsafe-statics -O2 -DTASKCLIENT_BUILDING -Iinclude -Isrc -c -o /dev/null)
bearssl=$(scripts/fetch-bearssl.sh "$out/bearssl")
compiled=0
for verify in 0 1; do
  checked=(-DTASKCLIENT_VERIFY_SERVER="$verify" -isystem "$bearssl/inc" -DTASKCLIENT_CONNECTION_STORAGE=25600)
  for source in "${core[@]}" src/platform/os/posix_io.cpp src/platform/tls/openssl_platform.cpp; do
    g++ "${strict[@]}" "${checked[@]}" "$source"
    compiled=$((compiled + 1))
  done
  for source in src/platform/tls/bearssl_platform.cpp src/platform/tls/bearssl_certificates.cpp; do
    g++ "${strict[@]}" "${checked[@]}" -DTASKCLIENT_TLS_BEARSSL "$source"
    compiled=$((compiled + 1))
  done
  for ce in "" "-D_WIN32_WCE=0x600 -DUNDER_CE"; do
    # shellcheck disable=SC2086 # $ce is zero or two options
    for source in "${core[@]}" src/platform/os/winsock_io.cpp src/platform/dll/dll_main.cpp \
      src/platform/tls/secure_sockets_platform.cpp src/platform/tls/bearssl_platform.cpp \
      src/platform/tls/bearssl_certificates.cpp; do
      i686-w64-mingw32-g++-win32 "${strict[@]}" "${checked[@]}" $ce "$source"
      compiled=$((compiled + 1))
    done
  done
done
echo "  $compiled compiles: the core and every platform layer, with g++ and MinGW-w64, with and without checking"

step "armel build of the library (TLS by BearSSL) and its tests, for the ARM926"
armel_started=$SECONDS
openssl=$(scripts/armel-openssl.sh "$out/armel-openssl")
rm -rf "$out/armel"
cmake -S . -B "$out/armel" -DCMAKE_TOOLCHAIN_FILE=cmake/armel-linux.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTASKCLIENT_TLS=bearssl -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_BENCH=OFF \
  -DTASKCLIENT_ARMEL_OPENSSL="$openssl" >"$out/armel-configure.log"
# Building runs the tests once under qemu as an ARM926 (GoogleTest's test
# discovery, through the toolchain file's emulator).
timeout 1200 cmake --build "$out/armel" -j"$jobs" --target taskclient_tests >"$out/armel-build.log" 2>&1 ||
  { tail -n 40 "$out/armel-build.log" >&2; exit 1; }
no_warnings "$out/armel-build.log"
tests="$out/armel/tests/taskclient_tests"
# What the device's CPU executes: ARMv5TE code, no VFP (soft float), in the
# library and its tests alike.
for object in "$tests" "$out/armel/libtaskclient.so"; do
  attributes=$(readelf -h -A "$object")
  for expected in 'Machine: *ARM$' 'Tag_CPU_arch: v5TE$' 'Flags:.*soft-float ABI'; do
    grep -q -E -e "$expected" <<<"$attributes" ||
      { echo "check-targets: $object does not match '$expected'" >&2; exit 1; }
  done
  if grep -E -e 'Tag_(FP_arch|Advanced_SIMD_arch|ABI_VFP_args):' <<<"$attributes" >&2; then
    echo "check-targets: $object uses floating-point or SIMD hardware the ARM926 lacks" >&2
    exit 1
  fi
done

step "unit tests under qemu-arm -cpu arm926"
emulator=(qemu-arm -cpu arm926 -E "LD_LIBRARY_PATH=$openssl/lib/arm-linux-gnueabi")
# Every test runs, in two shards side by side, except the one that makes ten
# thousand calls: each is a full TLS handshake, and with the crypto emulated
# that test alone takes about 400 s here. It checks descriptor counts, which
# the native run covers; nothing in it depends on the CPU. Nor does the
# real-resolver test, which runs its own binary again in a private network
# namespace: run directly, not through qemu, an ARM binary cannot start.
filter=${TASKCLIENT_QEMU_TEST_FILTER:--LoadTest.TenThousandCallsLeaveNoDescriptorBehind:RealResolverTest.*}
shards=2
pids=()
# The sixteen-thread load test runs 16 x 25 operations instead of 16 x 200:
# with BearSSL's handshakes emulated the full count alone takes minutes, and
# the native runs make all of them.
for ((shard = 0; shard < shards; ++shard)); do
  TASKCLIENT_LOAD_STEPS=${TASKCLIENT_LOAD_STEPS:-25} GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard timeout 600 \
    "${emulator[@]}" "$tests" --gtest_filter="$filter" >"$out/armel-tests-$shard.log" 2>&1 &
  pids+=($!)
done
failed=0
for ((shard = 0; shard < shards; ++shard)); do
  log="$out/armel-tests-$shard.log"
  if wait "${pids[$shard]}"; then
    echo "  shard $shard: $(grep -E '^\[  PASSED  \]' "$log") $(grep -E '^\[==========\] .* ran' "$log" | sed 's/.*(/(/')"
  else
    failed=1
    grep -E -A6 'Failure$' "$log" | sed -n 1,60p >&2 || true
    tail -n 12 "$log" >&2
    echo "check-targets: unit tests failed (or ran past 600 s) under qemu-arm -cpu arm926, shard $shard: $log" >&2
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "  armel build and tests: $((SECONDS - armel_started)) s"

step "all checks passed"
