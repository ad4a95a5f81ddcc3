#!/usr/bin/env bash
# The .NET binding, compiled at the C# 2.0 level and run with Mono against the
# real library and the local stand-in (scripts/check-dotnet.sh).
set -euo pipefail
exec bash "$(dirname "$0")/../check-dotnet.sh"
