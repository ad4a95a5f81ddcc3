#!/usr/bin/env bash
# Checks the export table of the Windows build's taskclient.dll:
#   - ordinals 1 to 14 are the fourteen functions, by their undecorated names;
#   - the DLL exports exactly what the .def file lists (names and ordinals),
#     nothing by ordinal only and nothing else;
#   - on 32-bit x86 (pei-i386), every export is a __stdcall function (its
#     symbol is Name@N), and the fourteen take the number of pointer-sized
#     arguments the header declares. x86_64 and ARM have one calling
#     convention and undecorated symbols: names and ordinals are checked, and
#     each export's address must hold the function of that name.
# Usage: scripts/check-dll-exports.sh DLL DEF   (OBJDUMP and NM may name the
# tools: MinGW-w64's x86_64 binutils read both x86 formats; an ARM DLL for
# Windows CE needs its toolchain's, e.g. OBJDUMP=arm-mingw32ce-objdump)
set -euo pipefail
dll=$1
def=$2
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
  nm=${NM:-x86_64-w64-mingw32-nm}
else
  objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
  nm=${NM:-i686-w64-mingw32-nm}
fi

fail() {
  echo "EXPORT CHECK FAILED ($dll): $*" >&2
  exit 1
}

# The fixed part of the interface: ordinal, name, bytes of arguments.
fixed="1 GoogleTasksGetTokenSSL 16
2 GoogleTasksTokenRefreshSSL 16
3 GTaskListTasksSSL 8
4 GTaskListTasksListSSL 12
5 GTaskTaskAddSSL 20
6 GTaskTaskDeleteSSL 16
7 GoogleTasksGetTokenPkceSSL 24
8 GTaskListTasksListPageSSL 16
9 GTaskTaskCompleteSSL 16
10 GTaskRequestSSL 20
11 GTaskReadReply 8
12 GTaskReadField 16
13 GTaskRequestsSSL 12
14 GTaskReadReplyAt 12"
fixedCount=$(wc -l <<<"$fixed")

# "ordinal name" per export of the .def file, in ordinal order.
declared=$(awk '
  { sub(/;.*/, "") }
  toupper($1) == "EXPORTS" { inside = 1; next }
  inside && NF {
    if (NF != 2 || $2 !~ /^@[0-9]+$/) { print "bad line: " $0 > "/dev/stderr"; exit 1 }
    print substr($2, 2), $1
  }' "$def" | sort -n) || fail "cannot read the exports of $def"
[ -n "$declared" ] || fail "$def lists no exports"
[ "$(head -n "$fixedCount" <<<"$declared")" = "$(cut -d' ' -f1,2 <<<"$fixed")" ] ||
  fail "$def must give ordinals 1 to $fixedCount to the fixed functions; it has:"$'\n'"$(head -n "$fixedCount" <<<"$declared")"

headers=$("$objdump" -f "$dll")
format=$(sed -n 's/.*file format \([^ ]*\).*/\1/p' <<<"$headers")
format=${format%%$'\n'*}
[ -n "$format" ] || fail "$objdump cannot read it"
decorated_symbols=0
[ "$format" = pei-i386 ] && decorated_symbols=1
table=$("$objdump" -p "$dll") || fail "$objdump cannot read it"
base=$(awk '/^Ordinal Base/ { print $3; exit }' <<<"$table")
address_count=$(awk '/^\tExport Address Table[ \t]+[0-9a-fA-F]+$/ { print $NF; exit }' <<<"$table")
name_count=$(awk '/^\t\[Name Pointer\/Ordinal\] Table/ { print $NF; exit }' <<<"$table")
image_base=$(awk '/^ImageBase/ { print $2; exit }' <<<"$table")
if [ -z "$base" ] || [ -z "$address_count" ] || [ -z "$name_count" ] || [ -z "$image_base" ]; then
  fail "no export table found in the objdump output"
fi
[ "$base" = 1 ] || fail "ordinal base is $base, not 1"

# "ordinal name" per exported name, as the DLL has them.
exported=$(awk -v base="$base" '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^\t\[ *[0-9]+\] / { gsub(/[\[\]]/, " "); print $1 + base, $2; next }
  inside { exit }' <<<"$table" | sort -n)
if [ "$exported" != "$declared" ]; then
  difference=$(diff <(echo "$declared") <(echo "$exported") || true)
  fail "exports differ from $def"$'\n'"$(head -n 20 <<<"$difference" | sed 's/^/  /')"
fi
count=$(wc -l <<<"$declared")
if [ $((16#$address_count)) -ne "$count" ] || [ $((16#$name_count)) -ne "$count" ]; then
  fail "$((16#$address_count)) addresses and $((16#$name_count)) names exported, $count expected"
fi

# RVA of each ordinal, and the symbols at each address.
rvas=$(awk -v base="$base" '
  /^Export Address Table -- Ordinal Base/ { inside = 1; next }
  inside && /\+base\[/ { gsub(/[\[\]]/, " "); print $3, $4; next }
  inside && NF == 0 { exit }' <<<"$table")
symbols=$("$nm" "$dll") || fail "$nm cannot read it"
while read -r ordinal name; do
  rva=$(awk -v o="$ordinal" '$1 == o { print $2 }' <<<"$rvas")
  [ -n "$rva" ] || fail "no address for ordinal $ordinal"
  address=$(printf '%016x' $((16#$image_base + 16#$rva)))
  if [ "$decorated_symbols" = 1 ]; then
    decorated=$(awk -v a="${address: -8}" -v n="$name" '
      tolower($1) == a && ($3 ~ "^_" n "@[0-9]+$") { sub(/^_/, "", $3); print $3 }' <<<"$symbols")
    [ -n "$decorated" ] || fail "$name (ordinal $ordinal) is not a __stdcall function (no symbol $name@N at its address)"
    expected=$(awk -v n="$name" '$2 == n { print $3 }' <<<"$fixed")
    if [ -n "$expected" ] && [ "$decorated" != "$name@$expected" ]; then
      fail "$name is $decorated; the header declares $name@$expected"
    fi
  else
    decorated=$(awk -v a="$address" -v n="$name" '
      { addr = tolower($1); while (length(addr) < 16) addr = "0" addr }
      addr == a && $3 == n { print $3 }' <<<"$symbols")
    [ -n "$decorated" ] || fail "$name (ordinal $ordinal) does not lead to the function $name"
  fi
  echo "  ordinal $ordinal  $name  ($decorated)"
done <<<"$exported"
echo "Exports of $(basename "$dll") ($format): $count, as $(basename "$def") lists them; ordinals 1-$fixedCount are the fixed functions."
