#!/usr/bin/env bash
# Installs the built library into a scratch prefix and builds a tiny consumer
# against the installed tree both ways a C or C++ user would: CMake's
# find_package(taskclient) and pkg-config. Each consumer must run, one of them
# also against the local stand-in through scripts/with-local-service.sh. The
# installed library must not need the C++ runtime.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${TASKCLIENT_BUILD_DIR:-build}
scripts/install-deps.sh build-essential cmake pkg-config
[ -f "$build/CMakeCache.txt" ] || scripts/build.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --build "$build" -j"$(nproc)" >/dev/null
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
echo "Installed:"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^\./  /')

libdir=$(dirname "$(find "$prefix" -name 'libtaskclient.so' | sed -n 1p)")
version=$(sed -n 's/^project(taskclient VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for name in libtaskclient.so "libtaskclient.so.${version%%.*}" "libtaskclient.so.$version"; do
  [ -e "$libdir/$name" ] || { echo "install: $name missing" >&2; exit 1; }
done
[ -f "$prefix/include/taskclient.h" ] || { echo "install: taskclient.h missing" >&2; exit 1; }
cmp -s LICENSE "$prefix/share/doc/taskclient/LICENSE" || { echo "install: LICENSE missing" >&2; exit 1; }
grep -q '^# License: MIT' "$libdir/pkgconfig/taskclient.pc" || { echo "install: no licence in taskclient.pc" >&2; exit 1; }
# The output of ldd is read whole before it is searched: a grep -q at the end
# of the pipeline would stop reading at its first match and ldd, still
# writing, would die of SIGPIPE and fail the pipeline.
needs=$(ldd "$libdir/libtaskclient.so")
if grep -q -e 'libstdc++' <<<"$needs"; then
  echo "install: libtaskclient.so needs the C++ runtime" >&2
  exit 1
fi

# 1. CMake package, moved after installation: the package finds its tree
# relative to itself.
mv "$prefix" "$work/moved"
prefix=$work/moved
libdir=${libdir/$work\/prefix/$prefix}
cmake -S tests/install -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" ||
  { cat "$work/cmake.log"; exit 1; }
cmake --build "$work/cmake-build" >"$work/cmake-build.log" || { cat "$work/cmake-build.log"; exit 1; }
"$work/cmake-build/consumer"
# The installed library as it ships, against the local stand-in.
scripts/with-local-service.sh "$work/cmake-build/consumer"
needs=$(ldd "$work/cmake-build/consumer")
grep -q -e "$prefix/.*libtaskclient.so.1" <<<"$needs" ||
  { echo "install: the CMake consumer does not load the installed library" >&2; exit 1; }

# 2. pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
echo "pkg-config taskclient: $(pkg-config --modversion taskclient): $(pkg-config --cflags --libs taskclient)"
[ "$(pkg-config --modversion taskclient)" = "$version" ] || { echo "install: wrong version in taskclient.pc" >&2; exit 1; }
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror tests/install/consumer.c -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs taskclient) -Wl,-rpath,"$libdir"
"$work/consumer-pc"
needs=$(ldd "$work/consumer-pc")
grep -q -e "$prefix/.*libtaskclient.so.1" <<<"$needs" ||
  { echo "install: the pkg-config consumer does not load the installed library" >&2; exit 1; }
echo "install: both consumers built and ran"
