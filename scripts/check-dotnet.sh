#!/usr/bin/env bash
# The .NET binding (bindings/dotnet/TaskClient.cs) against the real library:
# compiles the binding and its test at the C# 2.0 language level with Mono's
# compiler (-langversion:ISO-2, as the Compact Framework's compilers take it),
# maps the DllImport name "taskclient" to the built libtaskclient.so.1, and
# runs the test under scripts/with-local-service.sh, where the library's
# www.googleapis.com:443 is the local stand-in. Installs what it needs and
# builds first when the library or the stand-in is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh mono-mcs mono-runtime
build=$(mkdir -p "${TASKCLIENT_BUILD_DIR:-build}" && cd "${TASKCLIENT_BUILD_DIR:-build}" && pwd)
if [ ! -e "$build/libtaskclient.so.1" ] || [ ! -x "$build/tools/taskclient-local-service" ]; then
  if [ "$build" = "$PWD/build" ]; then
    scripts/build.sh
  else
    cmake --build "$build" -j2 --target taskclient taskclient_local_service
  fi
fi

out=$build/dotnet
mkdir -p "$out"
csc=(mcs -langversion:ISO-2 -warn:4 -warnaserror+ -nologo)
"${csc[@]}" -target:library -out:"$out/TaskClient.dll" bindings/dotnet/TaskClient.cs
"${csc[@]}" -r:"$out/TaskClient.dll" -out:"$out/TaskClientTest.exe" bindings/dotnet/tests/TaskClientTest.cs
# Mono reads the DllImport mapping from the binding assembly's own .config;
# the source keeps the device's name.
cat >"$out/TaskClient.dll.config" <<CONFIG
<configuration>
  <dllmap dll="taskclient" target="$build/libtaskclient.so.1"/>
</configuration>
CONFIG
# A temporary folder of the test's own, where it sees any body file
# Reply.Read leaves behind.
rm -rf "$out/tmp"
mkdir "$out/tmp"
echo "== .NET binding: $out/TaskClientTest.exe on $(readlink -f "$build/libtaskclient.so.1")"
timeout 300 scripts/with-local-service.sh env TMPDIR="$out/tmp" mono --debug "$out/TaskClientTest.exe"
