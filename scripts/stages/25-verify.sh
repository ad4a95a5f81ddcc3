#!/usr/bin/env bash
# A build that checks server certificates (-DTASKCLIENT_VERIFY_SERVER=ON) in
# build-verify/: the library's test binary, where a throwaway test CA is the
# only trust anchor and every test server presents a certificate it issued,
# runs every test but the long load runs (the plain suite has those). Among
# them: a self-signed, a wrongly named, an expired and a not yet valid
# certificate are refused with 29; the CA's certificate for the host is
# accepted; a handshake that fails otherwise stays 24. Built at -O1 without
# debug information: from scratch, configure, build and run take about a
# minute and a half on two cores.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev openssl ca-certificates

cmake -S . -B build-verify -DCMAKE_BUILD_TYPE=None -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 -DTASKCLIENT_VERIFY_SERVER=ON \
  -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_BENCH=OFF >/dev/null
cmake --build build-verify --target taskclient_tests -j2 >/dev/null
echo "== certificate checking on: the library's tests but the load runs"
timeout 300 build-verify/tests/taskclient_tests --gtest_filter='-LoadTest.*' --gtest_brief=1

# The BearSSL path checks against trust anchors compiled in at build time: a
# throwaway test CA is made first, named as the bundle, and handed to the test
# servers, which issue their certificates from it. The certificate table runs,
# and the call through the system's resolver to a name with several addresses
# (the other tests reach their servers by address, which BearSSL's checker
# cannot match against a certificate).
ca=$(pwd)/build-verify-bearssl/test-ca
mkdir -p "$ca"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" \
  -days 2 -subj "/CN=taskclient test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
cmake -S . -B build-verify-bearssl -DCMAKE_BUILD_TYPE=None -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
  -DTASKCLIENT_TLS=bearssl -DTASKCLIENT_VERIFY_SERVER=ON -DTASKCLIENT_TRUST_ANCHORS="$ca/ca.pem" \
  -DTASKCLIENT_BUILD_TOOLS=OFF -DTASKCLIENT_BUILD_BENCH=OFF >/dev/null
cmake --build build-verify-bearssl --target taskclient_tests -j2 >/dev/null
echo "== certificate checking on, BearSSL: the certificate table, every address of a real name"
TASKCLIENT_TEST_CA_KEY=$ca/ca.key TASKCLIENT_TEST_CA_CERT=$ca/ca.pem \
  timeout 300 build-verify-bearssl/tests/taskclient_tests --gtest_filter='ExchangeTest.Certificates*:RealResolverTest.*'

# Without TASKCLIENT_TRUST_ANCHORS the BearSSL path builds in the service's
# roots, read from ca-certificates and checked against pinned fingerprints at
# configure time. The same folder, configured so, makes only its anchors:
# there must be five, each a CA, whose subjects (decoded from the generated
# C) name the four GTS roots and GlobalSign Root CA.
cmake -S . -B build-verify-bearssl -DTASKCLIENT_TRUST_ANCHORS= >/dev/null
cmake --build build-verify-bearssl --target taskclient_trust_anchors -j2 >/dev/null
echo "== the BearSSL path's built-in roots"
anchors=$(cat build-verify-bearssl/trust_anchors.c)
subjects=$(awk '
  /_DN\[\] = \{/ { inside = 1; text = ""; next }
  inside && /\};/ { print text; inside = 0; next }
  inside {
    for (i = 1; i <= NF; i++) {
      hex = toupper(substr($i, 3, 2))
      code = (index("0123456789ABCDEF", substr(hex, 1, 1)) - 1) * 16 + index("0123456789ABCDEF", substr(hex, 2, 1)) - 1
      text = text ((code >= 32 && code < 127) ? sprintf("%c", code) : ".")
    }
  }' <<<"$anchors")
[ "$(wc -l <<<"$subjects")" -eq 5 ] || { echo "expected 5 built-in roots, found:"; echo "$subjects"; exit 1; }
[ "$(grep -c -e 'BR_X509_TA_CA' <<<"$anchors")" -eq 5 ] || { echo "a built-in root is not marked as a CA"; exit 1; }
for name in "GTS Root R1" "GTS Root R2" "GTS Root R3" "GTS Root R4" "GlobalSign Root CA"; do
  [ "$(grep -c -F -e "$name" <<<"$subjects")" -eq 1 ] || { echo "no built-in root named $name in:"; echo "$subjects"; exit 1; }
done
echo "$subjects"
