#!/usr/bin/env bash
# The README's first command must keep working: the whole story against the
# local stand-in for the service, the example host program included.
set -euo pipefail
cd "$(dirname "$0")/../.."
timeout 600 scripts/demo.sh
