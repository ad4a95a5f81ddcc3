#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed (as root, or through sudo). Usage: scripts/install-deps.sh PKG...
set -euo pipefail
# A package counts as installed for the machine's own architecture (or for
# all), or for the one it names (NAME:ARCH): a library installed for a cross
# target as well lists one status line per architecture.
native=$(dpkg --print-architecture)
missing=()
for package in "$@"; do
  arch=$native
  case "$package" in *:*) arch=${package#*:} ;; esac
  status=$(dpkg-query -W -f='${Status} ${Architecture}\n' "$package" 2>/dev/null || true)
  grep -q -x -e "install ok installed $arch" -e "install ok installed all" <<<"$status" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
