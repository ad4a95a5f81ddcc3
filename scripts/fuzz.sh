#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a bounded time,
# starting from the seed corpus checked in under tests/fuzz/corpus/<target>/.
# New inputs go to build-fuzz/corpus/ (the checked-in seeds are never
# written); a crash leaves its input in build-fuzz/artifacts/ and fails the run.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60, all)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reply_scanner_fuzz form_encode_fuzz json_title_fuzz request_fuzz read_field_fuzz requests_file_fuzz)

scripts/install-deps.sh build-essential cmake libssl-dev clang libclang-rt-dev

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
  -DTASKCLIENT_BUILD_TESTS=OFF -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_targets -j2

status=0
summary=()
mkdir -p build-fuzz/artifacts
for target in "${targets[@]}"; do
  work="build-fuzz/corpus/$target"
  mkdir -p "$work"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1
           -artifact_prefix="build-fuzz/artifacts/$target-")
  [ -f "tests/fuzz/${target%_fuzz}.dict" ] && options+=(-dict="tests/fuzz/${target%_fuzz}.dict")
  log="build-fuzz/$target.log"
  echo "== fuzzing $target for ${seconds}s"
  if timeout $((seconds + 120)) "build-fuzz/tests/fuzz/$target" "${options[@]}" "$work" "tests/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    outcome=ok
  else
    outcome="FAILED (see $log)"
    status=1
    grep -E "check failed|detail|ERROR:|SUMMARY:|Test unit written" "$log" | sed -n 1,20p || true
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  inputs=$(find "$work" -type f | wc -l)
  summary+=("$(printf '%-20s %12s executions  %5s coverage points  %5s corpus inputs  %s' \
    "$target" "$runs" "$coverage" "$inputs" "$outcome")")
done
echo "== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $status
