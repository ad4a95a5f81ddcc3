#!/usr/bin/env bash
# The README's first command must keep working: the whole story against the
# local stand-in for the service, the example host program included. It runs
# twice: as a new user sees it, then with every task and task-list id the
# stand-in hands out beginning with '-' (about one id in 64 does, from the
# stand-in as from the service), so that a script or tool that takes such an
# id for an option fails every time instead of one run in thirty.
set -euo pipefail
cd "$(dirname "$0")/../.."
timeout 600 scripts/demo.sh
echo "== the demo again, every id beginning with '-'"
TASKCLIENT_LOCAL_SERVICE_ARGS=--ids-begin-with-dash timeout 600 scripts/demo.sh
