#!/usr/bin/env bash
# Puts realistic single faults into the library, one at a time, and runs the
# tests that cover the faulty file: a fault that no test notices (a
# survivor) means a row is missing from some test's table. Not a CI stage:
# each fault costs an incremental build and a test run, a few tens of
# seconds; the whole set takes a while.
#
#   scripts/mutants.sh [--list NAME]... [--match TEXT]... [--no-baseline]
#
# The faults come from scripts/mutants/*.list (with --list, only NAME.list),
# one per line, four fields separated by a TAB:
#
#   FILE<TAB>ORIGINAL<TAB>REPLACEMENT<TAB>DESCRIPTION
#
# FILE is a path in the tree, ORIGINAL a piece of text that occurs in it
# exactly once, REPLACEMENT what it becomes (may be empty); lines beginning
# with # and empty lines are skipped. --match runs only the faults whose
# line (description, file or text) contains TEXT, or one of the TEXTs given.
#
# Each fault is applied in a scratch copy of the tree (build-mutants/tree, or
# $TASKCLIENT_MUTANTS_DIR/tree), kept between runs, with one build folder per
# kind of build beside it, so that each fault is an incremental rebuild:
#   main            OpenSSL: taskclient_tests and taskclient_tools_tests
#   verify          OpenSSL, certificate checking on (TASKCLIENT_VERIFY_SERVER)
#   verify-bearssl  BearSSL, certificate checking on, a throwaway test CA as the anchor
#   bearssl         BearSSL, no checking
#   windows         the DLL under wine64, through scripts/check-windows.sh (as root)
# Which tests run for a file is set by tests_for below, by path prefix.
# First the unchanged tree must pass every test the chosen faults need
# (--no-baseline skips that). Prints one row per fault: killed (and by which
# test), survived, or error (the original text not found exactly once, or the
# faulty tree does not build). Ends with "N killed, M survived"; exits
# non-zero when any fault survived or any row is an error.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

lists=()
matches=()
baseline=1
while [ $# -gt 0 ]; do
  case "$1" in
    --list) lists+=("scripts/mutants/${2%.list}.list"); shift 2 ;;
    --match) matches+=("$2"); shift 2 ;;
    --no-baseline) baseline=0; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: $0 [--list NAME]... [--match TEXT]... [--no-baseline]" >&2; exit 2 ;;
  esac
done
if [ ${#lists[@]} -eq 0 ]; then
  for list in scripts/mutants/*.list; do [ -e "$list" ] && lists+=("$list"); done
fi
for list in "${lists[@]}"; do [ -f "$list" ] || { echo "mutants: no list $list" >&2; exit 2; }; done

scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev openssl ca-certificates \
  util-linux perl-base >&2
work=${TASKCLIENT_MUTANTS_DIR:-$root/build-mutants}
mkdir -p "$work"
work=$(cd "$work" && pwd)
tree=$work/tree
logs=$work/logs
mkdir -p "$tree" "$logs"
started=$SECONDS

# The tests for a file: lines "BUILD TARGET ARGUMENTS...", run in order until
# one fails. TARGET is a test binary of BUILD, run from its build folder.
tests_for() {
  case "$1" in
    src/platform/tls/openssl_platform.cpp)
      echo "verify taskclient_tests --gtest_filter=ExchangeTest.Certificates*:RealResolverTest.*:TlsSessionTest.*"
      echo "main taskclient_tests --gtest_filter=ExchangeTest.*:TlsSessionTest.*:PlatformFailure.*:FaultTest.*" ;;
    src/platform/tls/bearssl_certificates.cpp)
      echo "verify-bearssl taskclient_tests --gtest_filter=ExchangeTest.Certificates*"
      echo "bearssl taskclient_tests --gtest_filter=ExchangeTest.*:TlsSessionTest.*" ;;
    src/platform/tls/bearssl_platform.cpp)
      echo "bearssl taskclient_tests --gtest_filter=ExchangeTest.*:TlsSessionTest.*:RealResolverTest.*:FaultTest.*" ;;
    src/platform/os/winsock_io.cpp)
      echo "windows check-windows.sh" ;;
    src/platform/os/*|src/platform/system_io_platform.cpp)
      echo "main taskclient_tests --gtest_filter=RealResolverTest.*:ExchangeTest.*:PlatformFailure.*:TlsSessionTest.*:FaultTest.*"
      echo "bearssl taskclient_tests --gtest_filter=RealResolverTest.*:ExchangeTest.*" ;;
    src/exchange/reply_scanner.cpp)
      echo "main taskclient_tests --gtest_filter=ReplyScanner.*:ExchangeTest.*:FaultTest.*"
      echo "main taskclient_tests --gtest_filter=-LoadTest.*" ;;
    src/exchange/*)
      echo "main taskclient_tests --gtest_filter=ExchangeTest.*:PlatformFailure.*:FaultTest.*:TlsSessionTest.*"
      echo "verify taskclient_tests --gtest_filter=ExchangeTest.Certificates*"
      echo "main taskclient_tests --gtest_filter=-LoadTest.*" ;;
    src/text/*)
      echo "main taskclient_tests --gtest_filter=Text.*:FormEncode.*:PathSegment.*:JsonString.*:Utf8.*:RequestText.*"
      echo "main taskclient_tests --gtest_filter=-LoadTest.*"
      echo "main taskclient_tools_tests" ;;
    src/readers/*)
      echo "main taskclient_tests --gtest_filter=ReplyReader.*:FieldReader.*:ExportedFunctions.*"
      echo "main taskclient_tests --gtest_filter=-LoadTest.*"
      echo "main taskclient_tools_tests" ;;
    *)
      echo "main taskclient_tests --gtest_filter=-LoadTest.*"
      echo "main taskclient_tools_tests" ;;
  esac
}

# The scratch tree follows the working tree: every file git knows of (tracked
# or not ignored) copied where it differs, so unchanged files keep their
# times and the builds stay incremental.
sync_tree() {
  local file
  while IFS= read -r -d '' file; do
    [ -f "$file" ] || continue
    if ! cmp -s -- "$file" "$tree/$file"; then
      mkdir -p "$tree/$(dirname "$file")"
      # A copy made now: newer than any object built from the old text,
      # whatever the time of the working tree's file.
      cp -- "$file" "$tree/$file"
    fi
  done < <(git ls-files -z --cached --others --exclude-standard)
}

# Configures BUILD once; builds TARGET. Output in the logs folder.
declare -A configured=()
build() {
  local kind=$1 target=$2 dir=$work/$1
  local -a options=(-DCMAKE_BUILD_TYPE=None -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 -DTASKCLIENT_BUILD_BENCH=OFF)
  case "$kind" in
    main) ;;
    verify) options+=(-DTASKCLIENT_VERIFY_SERVER=ON -DTASKCLIENT_BUILD_TOOLS=OFF) ;;
    verify-bearssl)
      make_test_ca
      options+=(-DTASKCLIENT_TLS=bearssl -DTASKCLIENT_VERIFY_SERVER=ON "-DTASKCLIENT_TRUST_ANCHORS=$work/test-ca/ca.pem"
                -DTASKCLIENT_BUILD_TOOLS=OFF) ;;
    bearssl) options+=(-DTASKCLIENT_TLS=bearssl -DTASKCLIENT_BUILD_TOOLS=OFF) ;;
    *) echo "mutants: unknown build $kind" >&2; exit 2 ;;
  esac
  if [ -z "${configured[$kind]:-}" ]; then
    cmake -S "$tree" -B "$dir" "${options[@]}" </dev/null >"$logs/$kind-configure.log" 2>&1 ||
      { tail -n 20 "$logs/$kind-configure.log" >&2; return 1; }
    configured[$kind]=1
  fi
  nice timeout 1800 cmake --build "$dir" -j2 --target "$target" </dev/null >"$logs/$kind-build.log" 2>&1
}

# The BearSSL checking build's only anchor, made once.
make_test_ca() {
  local ca=$work/test-ca
  [ -s "$ca/ca.pem" ] && return 0
  mkdir -p "$ca"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" \
    -days 30 -subj "/CN=taskclient test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# Runs one test line ("BUILD TARGET ARGUMENTS..."): builds, then runs.
# Returns 0 when the tests pass, 1 when they fail (failing names in
# $failed_tests), 2 when the build fails.
failed_tests=
run_tests() {
  local kind=$1 target=$2 binary log
  shift 2
  if [ "$kind" = windows ]; then
    run_windows
    return
  fi
  build "$kind" "$target" || return 2
  binary=$(find "$work/$kind" -type f -name "$target" -perm -u+x -print -quit)
  [ -n "$binary" ] || return 2
  log=$logs/test.log
  local status=0
  local -a ca=()
  [ "$kind" = verify-bearssl ] && ca=("TASKCLIENT_TEST_CA_KEY=$work/test-ca/ca.key" "TASKCLIENT_TEST_CA_CERT=$work/test-ca/ca.pem")
  # The first failing test is enough: a fault that makes every call wait out
  # its time limit would otherwise take minutes.
  env "${ca[@]}" timeout 900 "$binary" "$@" --gtest_brief=1 --gtest_fail_fast </dev/null >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] && return 0
  failed_tests=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_./]*\).*/\1/p' "$log" | sort -u | sed -n 1,3p | tr '\n' ' ')
  [ "$status" -eq 124 ] && failed_tests="(timed out) $failed_tests"
  [ -n "$failed_tests" ] || failed_tests="(exit status $status)"
  return 1
}

# The DLL's checks under wine, from the scratch tree, its builds beside the
# others: 0 when every check passes, 1 when one fails, 2 when nothing ran.
run_windows() {
  log=$logs/windows.log
  local status=0
  TASKCLIENT_WIN64_DIR=$work/win64 TASKCLIENT_BUILD_DIR=$work/main \
    timeout 1800 bash "$tree/scripts/check-windows.sh" </dev/null >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] && return 0
  failed_tests=$(sed -n 's/^FAIL //p' "$log" | sed -n 1,2p | tr '\n' ' ')
  [ -n "$failed_tests" ] && return 1
  return 2
}

# Applies one fault to the scratch copy of FILE: 0 done, 1 when ORIGINAL is
# not there exactly once.
apply() {
  perl -e '
    my ($path, $original, $replacement) = @ARGV;
    open(my $in, "<", $path) or exit 1;
    local $/;
    my $text = <$in>;
    close($in);
    my $at = index($text, $original);
    exit 1 if $at < 0 || index($text, $original, $at + 1) >= 0;
    substr($text, $at, length($original)) = $replacement;
    open(my $out, ">", $path) or exit 1;
    print $out $text;
    close($out) or exit 1;' -- "$1" "$2" "$3"
}

# Every fault chosen: "FILE<TAB>ORIGINAL<TAB>REPLACEMENT<TAB>DESCRIPTION<TAB>LIST".
faults=()
for list in "${lists[@]}"; do
  name=${list##*/}
  name=${name%.list}
  number=0
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    case "$line" in ''|'#'*) continue ;; esac
    if [ ${#matches[@]} -gt 0 ]; then
      chosen=0
      for match in "${matches[@]}"; do [[ $line == *"$match"* ]] && chosen=1; done
      [ "$chosen" = 1 ] || continue
    fi
    faults+=("$line"$'\t'"$name:$number")
  done <"$list"
done
[ ${#faults[@]} -gt 0 ] || { echo "mutants: no fault chosen" >&2; exit 2; }

echo "== mutants: ${#faults[@]} faults, scratch tree and builds in $work"
sync_tree

# The unchanged tree passes every test line the chosen faults need.
if [ "$baseline" = 1 ]; then
  declare -A needed=()
  for fault in "${faults[@]}"; do
    while IFS= read -r spec; do needed[$spec]=1; done < <(tests_for "${fault%%$'\t'*}")
  done
  for spec in "${!needed[@]}"; do
    read -r -a words <<<"$spec"
    status=0
    run_tests "${words[@]}" || status=$?
    if [ "$status" -ne 0 ]; then
      echo "mutants: the unchanged tree fails $spec: ${failed_tests:-the build failed (see $logs)}" >&2
      exit 1
    fi
    echo "   baseline passes: $spec ($((SECONDS - started)) s)"
  done
fi

killed=0
survived=0
errors=0
row() { printf '%-9s %-52s %s\n' "$1" "$2" "$3"; }
echo
row "VERDICT" "FAULT" "BY"
for fault in "${faults[@]}"; do
  file=${fault%%$'\t'*} rest=${fault#*$'\t'}
  original=${rest%%$'\t'*} rest=${rest#*$'\t'}
  replacement=${rest%%$'\t'*} rest=${rest#*$'\t'}
  description=${rest%%$'\t'*} where=${rest##*$'\t'}
  label="$description [$where]"
  tabs=${fault//[^$'\t']/}
  if [ ${#tabs} -ne 4 ]; then
    row "error" "$label" "not four fields separated by TABs"
    errors=$((errors + 1))
    continue
  fi
  if [ ! -f "$tree/$file" ] || ! apply "$tree/$file" "$original" "$replacement"; then
    row "error" "$label" "the original text is not in $file exactly once"
    errors=$((errors + 1))
    continue
  fi
  verdict=survived
  by=
  while IFS= read -r spec; do
    read -r -a words <<<"$spec"
    status=0
    run_tests "${words[@]}" || status=$?
    if [ "$status" -eq 1 ]; then
      verdict=killed
      by="${words[0]} ${words[1]}: $failed_tests"
      break
    elif [ "$status" -eq 2 ]; then
      verdict=error
      by="does not build in ${words[0]} (see $logs/error-${where//:/-}.log)"
      cp "$logs/${words[0]}-build.log" "$logs/error-${where//:/-}.log" 2>/dev/null || true
      break
    fi
  done < <(tests_for "$file")
  cp -p -- "$root/$file" "$tree/$file"
  touch "$tree/$file"  # newer than the faulty build's objects
  case "$verdict" in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    error) errors=$((errors + 1)) ;;
  esac
  row "$verdict" "$label" "$by"
done

echo
echo "$(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s; $errors errors"
echo "$killed killed, $survived survived"
[ "$survived" -eq 0 ] && [ "$errors" -eq 0 ]
