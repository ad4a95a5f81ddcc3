#!/usr/bin/env bash
# taskclient.dll (MinGW-w64 x86_64, TLS by BearSSL) under wine64: every
# export by name and ordinal, every operation against the local stand-in, and
# the failure results, in a private network namespace (scripts/check-windows.sh).
set -euo pipefail
exec bash "$(dirname "$0")/../check-windows.sh"
