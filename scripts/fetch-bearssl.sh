#!/usr/bin/env bash
# Fetches BearSSL's source as Debian ships it (source package bearssl,
# 0.6+dfsg.1-3, bookworm), checks it against the checksums pinned below and
# unpacks it into DEST/bearssl-0.6 (src/, inc/). Prints that folder.
#
#   scripts/fetch-bearssl.sh DEST
#
# apt-get works from a private sources list, package lists and cache: the
# machine's own apt configuration is read by nothing and changed by nothing.
# Verified downloads are kept in $TASKCLIENT_BEARSSL_CACHE (default
# ~/.cache/taskclient), so later builds unpack without going to the network.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DEST" >&2; exit 2; }
dest=$1
package=bearssl
version=0.6+dfsg.1-3
orig=bearssl_0.6+dfsg.1.orig.tar.xz
dsc=bearssl_${version}.dsc
orig_sha256=102a625bd8f6155260867a50c508df8d8c3f796985dd744df1a68e5cd1a79004
dsc_sha256=9bd17e07fc9824b0223dcb4ba14adac17981a4d8f1d63b6655819fe8f2ed98d1
tree=$dest/bearssl-0.6
stamp=$tree/.taskclient-$orig_sha256

if [ -f "$stamp" ]; then
  echo "$tree"
  exit 0
fi

cache=${TASKCLIENT_BEARSSL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/taskclient}
mkdir -p "$cache"

verified() {
  [ -f "$cache/$orig" ] && [ -f "$cache/$dsc" ] &&
    echo "$orig_sha256  $cache/$orig" | sha256sum --check --status &&
    echo "$dsc_sha256  $cache/$dsc" | sha256sum --check --status
}

if ! verified; then
  state=$(mktemp -d)
  trap 'rm -rf "$state"' EXIT
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/download"
  echo "deb-src http://deb.debian.org/debian bookworm main" >"$state/sources.list"
  apt=(-o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" -o APT::Sandbox::User=root)
  echo "fetch-bearssl: apt-get source $package=$version (private lists in $state)" >&2
  apt-get "${apt[@]}" -qq update >&2
  (cd "$state/download" && apt-get "${apt[@]}" -qq source --download-only "$package=$version" >&2)
  for file in "$orig" "$dsc"; do
    [ -f "$state/download/$file" ] || { echo "fetch-bearssl: $file was not downloaded" >&2; exit 1; }
  done
  echo "$orig_sha256  $state/download/$orig" | sha256sum --check --status ||
    { echo "fetch-bearssl: $orig does not match its pinned SHA-256" >&2; exit 1; }
  echo "$dsc_sha256  $state/download/$dsc" | sha256sum --check --status ||
    { echo "fetch-bearssl: $dsc does not match its pinned SHA-256" >&2; exit 1; }
  # The .dsc names the same tarball with the same checksum.
  grep -q " $orig_sha256 [0-9]* $orig\$" "$state/download/$dsc" ||
    { echo "fetch-bearssl: $dsc does not list $orig with the pinned checksum" >&2; exit 1; }
  cp "$state/download/$orig" "$state/download/$dsc" "$cache/"
fi

rm -rf "$tree"
mkdir -p "$dest"
tar -C "$dest" -xJf "$cache/$orig"
[ -f "$tree/inc/bearssl.h" ] && [ -d "$tree/src" ] || { echo "fetch-bearssl: unexpected layout in $orig" >&2; exit 1; }
touch "$stamp"
echo "$tree"
