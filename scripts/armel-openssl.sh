#!/usr/bin/env bash
# OpenSSL for the armel build (cmake/armel-linux.cmake), unpacked into a
# private folder instead of installed. Only the tests' in-process server and
# the tools use OpenSSL there, and Debian's libssl-dev:armel cannot always be
# installed: Multi-Arch: same needs the same version for every architecture,
# and the security archive may carry a newer libssl for the build machine than
# the armel archive this machine reaches.
#
#   scripts/armel-openssl.sh DIR
#
# Downloads the candidate versions of libssl-dev:armel and libssl3:armel
# (apt-get download, so the armel architecture must be known to dpkg and its
# package lists present) into DIR/cache once, unpacks them into DIR/root and
# prints DIR/root/usr: headers in include/ (the architecture's own
# configuration headers moved in beside the others, so one folder serves),
# libraries in lib/arm-linux-gnueabi/. The toolchain file takes that folder as
# TASKCLIENT_ARMEL_OPENSSL.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
mkdir -p "$1/cache"
dir=$(cd "$1" && pwd)
packages=(libssl-dev:armel libssl3:armel)

shopt -s nullglob
debs=("$dir"/cache/*.deb)
if [ ${#debs[@]} -ne ${#packages[@]} ]; then
  rm -f "$dir"/cache/*.deb "$dir/download.log"
  download() { (cd "$dir/cache" && apt-get -q download "${packages[@]}") >>"$dir/download.log" 2>&1; }
  if ! download; then
    # Package lists made before the armel architecture was added know no
    # armel package: read them again once.
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq >>"$dir/download.log" 2>&1 || true
    download || { cat "$dir/download.log" >&2; echo "armel-openssl: apt-get download failed" >&2; exit 1; }
  fi
  debs=("$dir"/cache/*.deb)
fi

rm -rf "$dir/root"
for deb in "${debs[@]}"; do
  dpkg-deb -x "$deb" "$dir/root"
done
usr=$dir/root/usr
mv "$usr"/include/arm-linux-gnueabi/openssl/*.h "$usr/include/openssl/"
for file in include/openssl/ssl.h include/openssl/configuration.h lib/arm-linux-gnueabi/libssl.so.3 \
  lib/arm-linux-gnueabi/libcrypto.so.3; do
  [ -e "$usr/$file" ] || { echo "armel-openssl: $usr/$file is missing" >&2; exit 1; }
done
echo "$usr"
