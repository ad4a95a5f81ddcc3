#!/usr/bin/env bash
# The device build, checked by cross-compiling: Windows (MinGW-w64) with the
# export table, C++98, and the unit tests on a CE-class ARM CPU (ARMv5TE,
# ARM926) under qemu.
set -euo pipefail
exec bash "$(dirname "$0")/../check-targets.sh"
