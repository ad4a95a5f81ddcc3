#!/usr/bin/env bash
# The device build through cmake/wince-arm.cmake with a stand-in Windows CE
# compiler, linked against import libraries of Windows CE's COREDLL.dll and
# WS2.dll only: four DLLs (native and BearSSL, each with and without
# certificate checking), each importing only names the device exports
# (scripts/check-wince.sh).
set -euo pipefail
exec bash "$(dirname "$0")/../check-wince.sh"
