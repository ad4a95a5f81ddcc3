#!/usr/bin/env bash
# The device build through cmake/wince-arm.cmake, with a stand-in for a
# Windows CE compiler, linked against Windows CE's own libraries only.
#
# The stand-in, made here in the build tree, is what the toolchain file takes
# as TASKCLIENT_WINCE_TOOLCHAIN_PREFIX (<prefix>gcc, g++, windres) and
# TASKCLIENT_WINCE_SDK_ROOT (lib/ with coredll and ws2):
#   - gcc and g++ run MinGW-w64's x86_64 compilers with the macros a Windows CE
#     compiler defines itself (_WIN32_WCE, UNDER_CE) and link with no default
#     library and no start-up file of MinGW's (both import msvcrt and
#     kernel32): only what the link line names, and libgcc (the compiler's own
#     helpers, such as the stack probe). The DLL's entry point is DllMain
#     itself: Windows CE's C runtime lives in COREDLL and needs no start-up
#     code in the DLL, and the library has no constructor for a start-up to
#     run (checked below). A real CE compiler brings its own DLL start-up.
#   - libcoredll.a and libws2.a are import libraries made with dlltool from
#     scripts/wince/coredll.exports and ws2.exports, the names COREDLL.dll and
#     WS2.dll export on Windows CE (scripts/wince/README.md), so a call the
#     device does not have fails to link, as it would with the SDK.
#
# Four DLLs: TASKCLIENT_TLS native and bearssl, each with and without
# TASKCLIENT_VERIFY_SERVER (the BearSSL one with a throwaway CA as its trust
# anchors). For each DLL, six checks:
#   build     configures and builds without a warning in the library's sources
#   link      the link line names coredll and ws2 and no other library
#   dlls      the import table names COREDLL.dll and WS2.dll and nothing else
#   names     every imported name is one the device's DLL exports
#   exports   scripts/check-dll-exports.sh: the .def's names and ordinals
#   entry     no constructor of the library (none would run: see above)
#
# What this proves: the code compiled with the CE macros calls only functions
# Windows CE has, from the DLLs that have them, and the toolchain file links
# those DLLs. What it does not: the code is x86_64 compiled against MinGW's
# desktop headers, not ARM code against an SDK's headers (docs/device-build.md,
# "What the checks here prove, and what only a device can").
#
# Installs what it needs. Builds in build-wince/ (or $TASKCLIENT_WINCE_DIR).
# Ends with one line "N passed, M failed"; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${TASKCLIENT_WINCE_DIR:-build-wince}
started=$SECONDS
step() { echo "== check-wince: $* ($((SECONDS - started)) s)"; }

step "installing what is missing"
scripts/install-deps.sh cmake make gcc openssl gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 \
  binutils-mingw-w64-x86-64
mkdir -p "$out"
out=$(cd "$out" && pwd)

step "the stand-in toolchain ($out/toolchain)"
toolchain=$out/toolchain
rm -rf "$toolchain"
mkdir -p "$toolchain/bin" "$toolchain/sdk/lib"
for dll in COREDLL WS2; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  { echo "LIBRARY $dll.dll"; echo "EXPORTS"; cat "scripts/wince/$lower.exports"; } >"$toolchain/$lower.def"
  x86_64-w64-mingw32-dlltool --input-def "$toolchain/$lower.def" --dllname "$dll.dll" \
    --output-lib "$toolchain/sdk/lib/lib$lower.a"
done
for tool in gcc g++; do
  cat >"$toolchain/bin/arm-mingw32ce-$tool" <<EOF
#!/bin/sh
# Stand-in for a Windows CE $tool (scripts/check-wince.sh made it).
compiler=x86_64-w64-mingw32-$tool-win32
defines="-D_WIN32_WCE=0x600 -DUNDER_CE"
entry=
for argument in "\$@"; do
  case \$argument in
    -c | -S | -E | -M | -MM) exec "\$compiler" \$defines "\$@" ;;
    -shared) entry=-Wl,-e,DllMain ;;
  esac
done
exec "\$compiler" \$defines -nostdlib \$entry "\$@" -lgcc
EOF
done
cat >"$toolchain/bin/arm-mingw32ce-windres" <<'EOF'
#!/bin/sh
exec x86_64-w64-mingw32-windres "$@"
EOF
chmod +x "$toolchain"/bin/*

bearssl=$(scripts/fetch-bearssl.sh "$out/bearssl-source")
ca=$out/test-ca
mkdir -p "$ca"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" \
  -days 2 -subj "/CN=taskclient test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

results=$out/results.txt
: >"$results"
result() { echo "$1 $2" >>"$results"; echo "  $1 $2"; }
# A DLL that was not built fails its other checks too.
not_built() {
  local check
  for check in link dlls names exports entry; do result FAIL "$1 $check: not built"; done
}

# The names a DLL of the device exports, one per line.
listed() { tr '[:upper:]' '[:lower:]' <<<"$1" | sed 's|^|scripts/wince/|; s|\.dll$|.exports|'; }

check_dll() {  # name build-dir
  local name=$1 dir=$2 dll=$2/taskclient.dll
  local link word libraries table imports dlls unlisted initialisers

  # CMake's link line for the DLL, as the Makefile generator writes it, with
  # the response files it names read in.
  link=$(grep -F -e "-o taskclient.dll" "$dir/CMakeFiles/taskclient.dir/link.txt")
  for word in $link; do
    case $word in @*) link+=" $(cat "$dir/${word#@}")" ;; esac
  done
  libraries=$(tr ' ' '\n' <<<"$link" | sed -n 's/^-l//p' | sort -u | tr '\n' ' ')
  if [ "$libraries" = "coredll ws2 " ]; then
    result PASS "$name link: -lcoredll -lws2 only"
  else
    result FAIL "$name link: libraries on the link line: $libraries"
  fi

  table=$(x86_64-w64-mingw32-objdump -p "$dll")
  # "DLL name" per imported name (an import by ordinal shows as <none>).
  imports=$(awk '
    /^\tDLL Name: / { dll = $3; inside = 0; next }
    dll != "" && /^\tvma: / { inside = 1; next }
    inside && NF == 0 { inside = 0; dll = ""; next }
    inside && NF >= 3 { print dll, $3 }' <<<"$table")
  dlls=$(cut -d' ' -f1 <<<"$imports" | sort -u | tr '\n' ' ')
  if [ "$dlls" = "COREDLL.dll WS2.dll " ]; then
    result PASS "$name dlls: imports from COREDLL.dll and WS2.dll only ($(wc -l <<<"$imports") names)"
  else
    result FAIL "$name dlls: imports from ${dlls:-nothing}"
  fi
  unlisted=
  while read -r from function; do
    [ -n "$from" ] || continue
    case $from in COREDLL.dll | WS2.dll) ;; *) unlisted+=" $from:$function"; continue ;; esac
    grep -q -x -F -e "$function" "$(listed "$from")" || unlisted+=" $from:$function"
  done <<<"$imports"
  if [ -z "$unlisted" ]; then
    result PASS "$name names: every imported name is exported on Windows CE"
  else
    result FAIL "$name names: not exported on Windows CE:$unlisted"
  fi

  if scripts/check-dll-exports.sh "$dll" src/platform/dll/taskclient.def >"$dir/exports.txt" 2>&1; then
    result PASS "$name exports: $(tail -n 1 "$dir/exports.txt")"
  else
    result FAIL "$name exports: $(tail -n 1 "$dir/exports.txt")"
  fi

  initialisers=$(x86_64-w64-mingw32-nm "$dll" | awk '$3 ~ /^_GLOBAL__sub_I/ { print $3 }' | tr '\n' ' ')
  if [ -z "$initialisers" ]; then
    result PASS "$name entry: no constructor to run at load"
  else
    result FAIL "$name entry: constructors that DllMain as entry point would skip: $initialisers"
  fi
}

for tls in native bearssl; do
  for verify in OFF ON; do
    name=$tls
    [ "$verify" = ON ] && name+="-verify"
    dir=$out/$name
    step "taskclient.dll, TLS $tls, certificate checking $verify ($dir)"
    rm -rf "$dir"
    configure=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/wince-arm.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel
      -DTASKCLIENT_WINCE_TOOLCHAIN_PREFIX="$toolchain/bin/arm-mingw32ce-" -DTASKCLIENT_WINCE_SDK_ROOT="$toolchain/sdk"
      -DTASKCLIENT_WINCE_DEFINES= -DTASKCLIENT_HAVE_SSLSOCK_H=0
      -DTASKCLIENT_TLS="$tls" -DTASKCLIENT_VERIFY_SERVER="$verify" -DTASKCLIENT_BEARSSL_SOURCE="$bearssl"
      -DTASKCLIENT_TRUST_ANCHORS="$ca/ca.pem")
    if ! cmake -S . -B "$dir" "${configure[@]}" >"$dir-configure.log" 2>&1; then
      tail -n 20 "$dir-configure.log" >&2
      result FAIL "$name build: configure failed ($dir-configure.log)"
      not_built "$name"
      continue
    fi
    if ! timeout 900 nice cmake --build "$dir" -j2 --target taskclient >"$dir-build.log" 2>&1; then
      grep -E -B2 -A6 'error|undefined' "$dir-build.log" | sed -n 1,60p >&2 || true
      result FAIL "$name build: build failed ($dir-build.log)"
      not_built "$name"
      continue
    fi
    warnings=$(grep -i -E 'warning|note:' "$dir-build.log" | grep -v -F -e "$bearssl/" || true)
    if [ -z "$warnings" ]; then
      result PASS "$name build: taskclient.dll, $(stat -c %s "$dir/taskclient.dll") bytes, no warning"
    else
      head -n 30 <<<"$warnings" >&2
      result FAIL "$name build: warnings ($dir-build.log)"
    fi
    check_dll "$name" "$dir"
  done
done

passed=$(grep -c '^PASS' "$results" || true)
failed=$(grep -c '^FAIL' "$results" || true)
step "done"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
