#!/usr/bin/env bash
# Builds the packages into build/packages/:
#   quorlin_<version>_<arch>.deb     the front end and its man page (native release build, CPack);
#   Quorlin-<version>-windows.zip    x86\ and x64\ with Quorlin.dll and quorlin.exe (x86\ also
#                                    Darvello.exe), register.cmd, unregister.cmd, README.txt.
# A native release build of its own in build/pkg-linux; for Windows the mingw32 and mingw64
# presets' builds, which are release builds already (the Wine suites use them too, so after a
# test run there is nothing left to build). tests/package/run.sh checks what comes out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

out=build/packages
mkdir -p "$out"

configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORLIN_TESTS=OFF "$@" >/dev/null
}

echo "package: native release build"
configure build/pkg-linux
cmake --build build/pkg-linux -j"$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/pkg-linux/CMakeCache.txt)
[ -n "$version" ] || { echo "package: no project version in build/pkg-linux" >&2; exit 1; }

echo "package: Debian package"
rm -rf "$out"/quorlin_*.deb build/pkg-linux/cpack
cpack --config build/pkg-linux/CPackConfig.cmake -B build/pkg-linux/cpack >/dev/null
mv build/pkg-linux/cpack/quorlin_*.deb "$out"/

name=Quorlin-$version-windows
stage=build/pkg-stage
rm -rf "$stage"
for bits in 32 64; do
  echo "package: Windows $bits-bit release build"
  cmake --preset "mingw$bits" >/dev/null
  # Only what is installed: the Wine test client and the like are not needed here.
  cmake --build --preset "mingw$bits" -j"$(nproc)" --target Quorlin quorlin Darvello
done
cmake --install build/mingw32 --prefix "$stage/$name/x86" --strip >/dev/null
cmake --install build/mingw64 --prefix "$stage/$name/x64" --strip --component runtime >/dev/null

# Windows line ends, so that Notepad and cmd read them as written.
for file in register.cmd unregister.cmd README.txt; do
  sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' \
    "packaging/windows/$file" >"$stage/$name/$file"
done

echo "package: Windows ZIP"
rm -f "$out"/Quorlin-*-windows.zip
(cd "$stage" && cmake -E tar cf "../packages/$name.zip" --format=zip "$name")
rm -rf "$stage"

echo "package: done"
ls -l "$out"/quorlin_*.deb "$out/$name.zip"
