#!/usr/bin/env bash
# Installs what the build, the demo and the tests need, from Debian's packages. Idempotent: only
# missing packages are installed. Run as root (or with sudo available).
set -euo pipefail

native=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev clang-format
        python3 socat faketime)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine64
         wine32:i386 xvfb x11-utils imagemagick xdotool)
crosscheck=(python3-gammu)
# The man page (help2man), and CPack's Debian package with its dependencies (dpkg-shlibdeps, file).
packaging=(help2man dpkg-dev file)

want=("${native[@]}")
case "${1:-all}" in
  native) ;;
  all) want+=("${windows[@]}" "${crosscheck[@]}" "${packaging[@]}") ;;
  *) echo "usage: $0 [native|all]" >&2; exit 2 ;;
esac

# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
apt_install "${want[@]}"
