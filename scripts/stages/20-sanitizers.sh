#!/usr/bin/env bash
# The whole test suite (library, tools) under AddressSanitizer and
# UndefinedBehaviorSanitizer, leak checking on, in build-asan/; the library's
# test binary on the BearSSL build under the same sanitizers, BearSSL's own
# code instrumented too, in build-asan-bearssl/; then the library's test
# binary, every concurrency test included, under ThreadSanitizer in
# build-tsan/. GCC's sanitizer runtimes; any report fails.
# Built at -O1 with line tables only (-g1): reports keep file and line, and
# the two builds take about half the time of -O2 -g.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev

asan="-O1 -g1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=None \
  "-DCMAKE_C_FLAGS=$asan" "-DCMAKE_CXX_FLAGS=$asan" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2 >/dev/null
echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  timeout 1200 ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

# The BearSSL build: the engine, its record buffer in the call's storage and
# the buffer lent to the core without a copy, under the same checks. The
# 10,000-call run is shortened to 2,000 (the plain BearSSL suite runs it all).
cmake -S . -B build-asan-bearssl -DCMAKE_BUILD_TYPE=None -DTASKCLIENT_TLS=bearssl -DTASKCLIENT_BUILD_TOOLS=OFF \
  "-DCMAKE_C_FLAGS=$asan" "-DCMAKE_CXX_FLAGS=$asan" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build build-asan-bearssl --target taskclient_tests -j2 >/dev/null
echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the library's tests on BearSSL"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 TASKCLIENT_SOAK_CALLS=2000 \
  timeout 1200 build-asan-bearssl/tests/taskclient_tests --gtest_brief=1

tsan="-O1 -g1 -fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=None -DTASKCLIENT_BUILD_TOOLS=OFF \
  "-DCMAKE_C_FLAGS=$tsan" "-DCMAKE_CXX_FLAGS=$tsan" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" >/dev/null
cmake --build build-tsan --target taskclient_tests -j2 >/dev/null
# Every test of the binary, so each one's server threads run against the
# library too; the 10,000-call run is shortened to 2,000 (it is one thread;
# the full count runs in the plain and AddressSanitizer suites). Address
# randomisation is off for the run: some kernels' layouts upset TSan's.
echo "== ThreadSanitizer: the library's tests, the concurrency tests among them"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" TASKCLIENT_SOAK_CALLS=2000 \
  timeout 1200 setarch "$(uname -m)" -R build-tsan/tests/taskclient_tests --gtest_brief=1
