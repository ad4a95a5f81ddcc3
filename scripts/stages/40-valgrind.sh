#!/usr/bin/env bash
# The library's test suite under Valgrind's memcheck: any invalid read or
# write, use of uninitialised memory, or definitely or indirectly lost block
# fails. Uses the build scripts/test.sh made (build/, or TASKCLIENT_BUILD_DIR).
# Bounded for time: the load tests run shortened (1,000 calls, 16 threads x
# 25 operations), and the 100 MB reply is left out (through memcheck it takes
# about a minute; the sanitizer stage runs it).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh valgrind
build="${TASKCLIENT_BUILD_DIR:-build}"
[ -x "$build/tests/taskclient_tests" ] || { echo "no $build/tests/taskclient_tests: run scripts/build.sh first"; exit 1; }
echo "== valgrind memcheck: the library's tests"
TASKCLIENT_SOAK_CALLS=1000 TASKCLIENT_LOAD_STEPS=25 \
  timeout 1200 valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=40 \
  "$build/tests/taskclient_tests" --gtest_brief=1 \
  --gtest_filter=-FaultTest.HundredMegabyteReplyIsStreamedToTheFile
