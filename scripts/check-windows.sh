#!/usr/bin/env bash
# The Windows build on a real Windows runtime: taskclient.dll (MinGW-w64
# x86_64, TLS by BearSSL over Winsock) under wine64, driven by
# tests/windows/dll_check.c, which loads it with LoadLibraryW, finds every
# export by name and by ordinal, and calls the operations through it.
#
# The DLL always goes to www.googleapis.com:443, so the calls run in a private
# network and mount namespace (unshare, as root): only loopback, a private
# /etc/hosts that names www.googleapis.com 127.0.0.1, an empty resolv.conf,
# and the local stand-in for the service listening on 443 there. Nothing
# leaves the machine. Checked: every operation's result and HTTP status, a
# non-ASCII response path, a file that cannot be opened (27), a refused
# connection (24), a name with three addresses whose first two refuse (the
# third answers), a server that completes TLS and never answers (26, after
# the 30 s limit), a name that does not resolve (23); and that the DLL needs
# no compiler runtime DLL and runs no constructor when loaded.
#
# Installs what it needs. Builds the DLL in build-win64/ (or
# $TASKCLIENT_WIN64_DIR), the stand-in in build/ (or $TASKCLIENT_BUILD_DIR).
# Ends with one line "N passed, M failed"; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" = "--inside" ]; then
  inside=1
  work=$2
else
  inside=0
fi

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# --- inside the namespace ------------------------------------------------------
if [ "$inside" = 1 ]; then
  log=$work/results.txt
  : >"$log"
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  winpath() { local p=$1; echo "Z:${p//\//\\}"; }
  dll=$(winpath "$work/taskclient.dll")
  out=$(winpath "$work/out")
  mkdir -p "$work/out"
  note() { echo "== check-windows: $*"; }
  result() { echo "$1" >>"$log"; echo "$1"; }
  run() {  # dll_check arguments...; its lines go to the log
    set +e
    timeout 120 "$wine" "$work/dll_check.exe" "$dll" "$out" "$@" 2>"$work/wine.err" | tr -d '\r' | tee -a "$log"
    local status=${PIPESTATUS[0]}
    set -e
    if [ "$status" -ge 100 ] || ! grep -q . "$log"; then
      result "FAIL dll_check $*: exit status $status"
      tail -n 5 "$work/wine.err" >&2
    fi
  }
  service_pid=
  stop_service() {
    [ -n "$service_pid" ] || return 0
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  }
  trap 'stop_service; "$wineserver" -k 2>/dev/null || true' EXIT

  mount --make-rprivate /
  ip link set lo up
  mount --bind "$work/hosts" /etc/hosts
  mount --bind "$work/resolv.conf" /etc/resolv.conf

  note "wine prefix in $WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true

  note "stand-in on 127.0.0.1:443"
  "$work/local-service" --port 443 --code "$(cat "$work/code")" --quiet >"$work/service.out" 2>"$work/service.log" &
  service_pid=$!
  for _ in $(seq 100); do
    grep -q '^authorization code: ' "$work/service.out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^listening on 127.0.0.1:443' "$work/service.out" || { result "FAIL stand-in did not start"; exit 0; }

  # A loopback code with PKCE, from the sign-in page as a browser would get it.
  verifier=$(head -c 32 /dev/urandom | base64 | tr '+/' '-_' | tr -d '=\n')
  challenge=$(printf '%s' "$verifier" | openssl dgst -sha256 -binary | base64 | tr '+/' '-_' | tr -d '=\n')
  redirect=http://127.0.0.1:8765
  url="https://127.0.0.1/o/oauth2/v2/auth?response_type=code&client_id=client&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765"
  url+="&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Ftasks&code_challenge=$challenge&code_challenge_method=S256"
  location=$(curl -sk --max-time 10 -o /dev/null -w '%{redirect_url}' "$url" || true)
  raw=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$location")
  pkce_code=$(printf '%b' "${raw//%/\\x}")

  note "every operation through the DLL"
  run story "$(cat "$work/code")" "$pkce_code" "$verifier" "$redirect"
  if [ -s "$work/out/réponse-αβ-任务.json" ]; then
    result "PASS non-ASCII response path is the file réponse-αβ-任务.json on disk"
  else
    result "FAIL non-ASCII response path: no file réponse-αβ-任务.json in $work/out: $(cd "$work/out" && printf '%s ' *)"
  fi
  note "a response file that cannot be opened"
  run expect 27 unopenable

  note "refused connection (stand-in stopped)"
  stop_service
  run expect 24

  # Every address of the name, through Winsock's resolver: ::1 and 127.0.0.5
  # refuse, the server answers on 127.0.0.6 only. These two IPv4 addresses
  # share as many leading bits with the source address 127.0.0.1, so the
  # resolver's sort keeps them in the file's order; ::1 sorts first where
  # IPv6 is up. (A silent address would hold the call for the whole connect
  # budget, which covers every address together: the next would never be
  # tried.)
  note "a name with three addresses, the first two refusing"
  mount --bind "$work/hosts-several" /etc/hosts
  openssl s_server -accept 127.0.0.6:443 -www -cert "$work/cert.pem" -key "$work/key.pem" \
    </dev/null >"$work/s_server-several.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.6/443) 2>/dev/null && break
    sleep 0.1
  done
  order=$(getent ahosts www.googleapis.com | awk '$2 == "STREAM" { print $1 }' | tr '\n' ' ' || true)
  started=$SECONDS
  run expect 999
  took=$((SECONDS - started))
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  mount --bind "$work/hosts" /etc/hosts
  reply=
  [ -f "$work/out/expect.json" ] && reply=$(tr -d '\r' <"$work/out/expect.json" | sed -n 1p)
  order=${order% }
  if [ "${order%% *}" != 127.0.0.6 ] && [ "$reply" = "HTTP/1.0 200 ok" ]; then
    result "PASS three addresses ($order): the call reached the third, in ${took} s"
  else
    result "FAIL three addresses ($order): the response file begins \"$reply\""
  fi

  note "a server that completes TLS and never answers (waits out the 30 s limit); it shows the handshake"
  mkfifo "$work/silence"
  sleep 300 >"$work/silence" &
  silence_pid=$!
  openssl s_server -accept 443 -cert "$work/cert.pem" -key "$work/key.pem" -servername www.googleapis.com \
    -cert2 "$work/cert.pem" -key2 "$work/key.pem" <"$work/silence" >"$work/s_server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/443) 2>/dev/null && break
    sleep 0.1
  done
  started=$SECONDS
  run expect 26
  waited=$((SECONDS - started))
  kill "$server_pid" "$silence_pid" 2>/dev/null || true
  wait "$server_pid" "$silence_pid" 2>/dev/null || true
  if grep -q '^GET /tasks/v1/users/@me/lists HTTP/1.1' "$work/s_server.out" && [ "$waited" -ge 29 ]; then
    result "PASS silent server: request arrived over TLS, call gave up after ${waited} s"
  else
    result "FAIL silent server: request not seen by the server, or the call ended after ${waited} s"
  fi
  # What the DLL's BearSSL offered: the server name, and only the six ECDHE
  # suites with AES-GCM or ChaCha20-Poly1305 (the server takes any); a TLS 1.2
  # suite was agreed, though the server would have taken TLS 1.3.
  if grep -q '^Hostname in TLS extension: "www.googleapis.com"' "$work/s_server.out"; then
    result "PASS handshake announces www.googleapis.com (SNI)"
  else
    result "FAIL handshake without the server name www.googleapis.com"
  fi
  offered=$(sed -n 's/^Shared ciphers://p' "$work/s_server.out" | tr ':' '\n' | sort | tr '\n' ' ')
  expected="ECDHE-ECDSA-AES128-GCM-SHA256 ECDHE-ECDSA-AES256-GCM-SHA384 ECDHE-ECDSA-CHACHA20-POLY1305 "
  expected+="ECDHE-RSA-AES128-GCM-SHA256 ECDHE-RSA-AES256-GCM-SHA384 ECDHE-RSA-CHACHA20-POLY1305 "
  if [ "$offered" = "$expected" ] && grep -q '^CIPHER is ECDHE-ECDSA-' "$work/s_server.out"; then
    result "PASS TLS 1.2 with ECDHE and AEAD suites only: $(sed -n 's/^CIPHER is //p' "$work/s_server.out")"
  else
    result "FAIL suites offered: ${offered:-none}; agreed: $(sed -n 's/^CIPHER is //p' "$work/s_server.out")"
  fi

  note "a name that does not resolve (hosts file without it, no DNS)"
  mount --bind "$work/hosts-without" /etc/hosts
  run expect 23
  exit 0
fi

# --- outside: build, prepare, then run the above in a namespace ------------------
[ "$(id -u)" -eq 0 ] || { echo "check-windows: needs root (unshare --net --mount)" >&2; exit 1; }
scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev openssl curl \
  iproute2 util-linux wine64 gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
started=$SECONDS
step() { echo "== check-windows: $* ($((SECONDS - started)) s)"; }

build=${TASKCLIENT_BUILD_DIR:-build}
win=${TASKCLIENT_WIN64_DIR:-build-win64}
step "the stand-in ($build)"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target taskclient_local_service >/dev/null
step "taskclient.dll, x86_64, TLS by BearSSL ($win)"
mkdir -p "$win"
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DTASKCLIENT_TLS=bearssl \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$win/taskclient-configure.log" 2>&1 || { tail -n 20 "$win/taskclient-configure.log"; exit 1; }
timeout 900 cmake --build "$win" -j2 --target taskclient >"$win/taskclient-build.log" 2>&1 || { tail -n 40 "$win/taskclient-build.log"; exit 1; }
if grep -i -E 'warning' "$win/taskclient-build.log" | grep -v '/_deps/bearssl/' >/dev/null; then
  grep -i -E -A3 'warning' "$win/taskclient-build.log" | sed -n 1,30p >&2
  echo "check-windows: warnings in the library's own sources" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$win/taskclient.dll" "$work/"
cp "$build/tools/taskclient-local-service" "$work/local-service"
x86_64-w64-mingw32-gcc-win32 -std=c99 -O2 -Wall -Wextra -Wpedantic -Werror -o "$work/dll_check.exe" \
  tests/windows/dll_check.c
echo "authcode-$(date +%s)-$$" >"$work/code"
printf '127.0.0.1 localhost\n127.0.0.1 www.googleapis.com\n' >"$work/hosts"
printf '127.0.0.1 localhost\n' >"$work/hosts-without"
printf '127.0.0.1 localhost\n::1 www.googleapis.com\n127.0.0.5 www.googleapis.com\n127.0.0.6 www.googleapis.com\n' \
  >"$work/hosts-several"
: >"$work/resolv.conf"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=www.googleapis.com \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# Checks on the DLL itself.
: >"$work/static.txt"
imports=$(x86_64-w64-mingw32-objdump -p "$work/taskclient.dll" | awk '/DLL Name:/ { print $3 }' | tr '\n' ' ')
if grep -q -i -E '(libgcc|libstdc|libwinpthread)' <<<"$imports"; then
  echo "FAIL imports: $imports" >>"$work/static.txt"
else
  echo "PASS imports only system DLLs: $imports" >>"$work/static.txt"
fi
# GCC gives every source with a dynamic initialiser or a static object to
# destroy a _GLOBAL__sub_I_ function, listed in .ctors and run when the DLL is
# loaded. The library has none: the constructor list holds MinGW's own entries
# only.
initialisers=$(x86_64-w64-mingw32-nm "$work/taskclient.dll" | awk '$3 ~ /^_GLOBAL__sub_I/ { print $3 }' | tr '\n' ' ')
if [ -z "$initialisers" ]; then
  echo "PASS no constructor of the library runs at load (no _GLOBAL__sub_I_ function)" >>"$work/static.txt"
else
  echo "FAIL constructors run at load: $initialisers" >>"$work/static.txt"
fi
if scripts/check-dll-exports.sh "$work/taskclient.dll" src/platform/dll/taskclient.def >"$work/exports.txt" 2>&1; then
  echo "PASS export table: $(tail -n 1 "$work/exports.txt")" >>"$work/static.txt"
else
  echo "FAIL export table: $(tail -n 1 "$work/exports.txt")" >>"$work/static.txt"
fi
cat "$work/static.txt"

step "wine64 in a private network and mount namespace"
chmod 755 "$work"
unshare --net --mount -- bash "$root/scripts/check-windows.sh" --inside "$work" || true

passed=$(cat "$work/static.txt" "$work/results.txt" 2>/dev/null | grep -c '^PASS' || true)
failed=$(cat "$work/static.txt" "$work/results.txt" 2>/dev/null | grep -c '^FAIL' || true)
if [ "$passed" -eq 0 ]; then failed=$((failed + 1)); fi
step "done"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
