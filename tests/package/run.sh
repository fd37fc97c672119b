#!/usr/bin/env bash
# The packages as a user receives them (scripts/package.sh makes them in build/packages/):
#   - the Debian package, unpacked into a scratch root: its quorlin tells the package's version
#     and explains its commands, the man page carries the commands' options, and every library
#     the program loads comes from a package that Depends names;
#   - the Windows ZIP, unpacked onto C: of a fresh Wine prefix: register.cmd in Wine's cmd, then
#     read.vbs in the 64-bit cscript (and the 32-bit one where 32-bit programs run) creates
#     "AddIn.Quorlin" and reads the simulated modem on COM3; unregister.cmd, after which creation
#     by ProgID fails; register.cmd /user and unregister.cmd /user from the 32-bit cmd where it
#     runs, checked in the registry; x64\quorlin.exe tells the Debian package's version.
# Usage: tests/package/run.sh [PACKAGE DIR]   (default: build/packages)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib.sh
. "$here/../../scripts/lib.sh"
packages=$(cd "${1:-$quorlin_root/build/packages}" && pwd) ||
  { echo "FAIL: no package folder (scripts/package.sh makes build/packages)" >&2; exit 1; }
shopt -s nullglob

failed=0
check() {
  local name=$1 started=$SECONDS
  shift
  if "$@"; then echo "  ok    $name ($((SECONDS - started)) s)"
  else echo "  FAIL  $name"; failed=1; fi
}

# the_package PATTERN: the one file of the package folder that matches.
the_package() {
  # shellcheck disable=SC2206  # PATTERN is a glob
  local matches=("$packages"/$1)
  [ ${#matches[@]} -eq 1 ] && printf '%s' "${matches[0]}" && return 0
  echo "FAIL: want one $1 in $packages, found ${#matches[@]} (scripts/package.sh makes it)" >&2
  return 1
}
deb=$(the_package 'quorlin_*.deb')
zip=$(the_package 'Quorlin-*-windows.zip')

workdir=$(mktemp -d /tmp/quorlin-package.XXXXXX)
cleanup() {
  wine_stop
  modem_stop_all
  rm -rf "$workdir"
}
trap cleanup EXIT

# --- Debian package -----------------------------------------------------------------------------

echo "== ${deb##*/}"
dpkg -x "$deb" "$workdir/root"
quorlin=$workdir/root/usr/bin/quorlin
version=$(dpkg-deb -f "$deb" Version)

# output_has TEXT COMMAND...: COMMAND succeeds and TEXT is in its output.
output_has() {
  local text=$1 out
  shift
  out=$("$@") && [[ $out == *"$text"* ]] || { echo "    $*: ${out:-nothing}"; return 1; }
}

# Each library the loader finds for the program belongs to a package named in Depends.
depends_cover_libraries() {
  local depends lib owner status=0
  depends=" $(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
  while read -r lib; do
    owner=$(dpkg -S "*/$(basename "$(dirname "$lib")")/${lib##*/}" 2>/dev/null |
            sed -n '1s/[:,].*//p')
    if [ -z "$owner" ] || [[ $depends != *" $owner "* ]]; then
      echo "    $lib (package ${owner:-unknown}) is not in Depends:$depends"
      status=1
    fi
  done < <(ldd "$quorlin" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }')
  return $status
}

# "quorlin 1.00 (1.0.0.0)" for the package version 1.0.0: both come from the project's version.
check "quorlin --version tells the package version $version" \
  output_has "($version." "$quorlin" --version
check "quorlin read --help" output_has "--device PATH" "$quorlin" read --help
check "man page with the commands' options" \
  output_has '\-\-device' zcat "$workdir/root/usr/share/man/man1/quorlin.1.gz"
check "Depends covers the libraries" depends_cover_libraries

# The service unit is in the package, and what it starts is the packaged program with options
# that program takes (--spool wants an existing folder: the unit makes it before the start).
unit=$workdir/root/usr/lib/systemd/system/quorlin-watch@.service
unit_starts_the_watcher() {
  local exec_start
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [[ $exec_start == "/usr/bin/quorlin watch "* ]] || { echo "    ExecStart=$exec_start"; return 1; }
  [ -x "$workdir/root/usr/bin/quorlin" ] || return 1
  mkdir -p "$workdir/spool/ttyUSB0"
  exec_start=${exec_start//\/var\/spool\/quorlin/$workdir/spool}
  exec_start=${exec_start//\/var\/lib\/quorlin/$workdir}
  exec_start=${exec_start//\/dev\/%i/\/nonexistent\/ttyUSB0}
  exec_start=${exec_start//%i/ttyUSB0}
  # A device that is not there: the watcher waits for it, and a stop signal ends it well.
  timeout --preserve-status -s TERM 3 "$quorlin" ${exec_start#/usr/bin/quorlin } 2>/dev/null
}
check "quorlin-watch@.service starts the packaged watcher" unit_starts_the_watcher
# systemd itself checks the unit only where it runs as the init system.
if [ -d /run/systemd/system ] && command -v systemd-analyze >/dev/null; then
  check "systemd-analyze verify quorlin-watch@ttyUSB0.service" \
    systemd-analyze verify --man=no "$unit:quorlin-watch@ttyUSB0.service"
else
  echo "  SKIPPED systemd-analyze verify: systemd is not the init system on this machine"
fi

# --- Windows ZIP --------------------------------------------------------------------------------

echo "== ${zip##*/}"
wine_fresh_prefix "$workdir/prefix"
(cd "$WINEPREFIX/drive_c" && cmake -E tar xf "$zip")
win_folder="C:\\$(basename "$zip" .zip)"

skipped=
if can_run_32_bit; then
  bitnesses=(64 32)
else
  bitnesses=(64) skipped=1
  echo "  SKIPPED 32-bit cscript and cmd: this machine cannot start 32-bit Windows programs (no"
  echo "  32-bit support in the kernel, or no wine32); register.cmd may fail for x86 only"
fi

modem_start "$workdir/modem" "$quorlin_root/simulator/samples/demo-store.txt"
wine_map_port 3 "$modem_pty"

# package_script BITS NAME [ARG]: NAME.cmd of the package in the cmd of that bitness.
package_script() {
  local rc=0 out
  out=$("$wine" "$(wine_system_dir "$1")\\cmd.exe" /c "$win_folder\\$2.cmd" "${@:3}" 2>&1) || rc=$?
  out=${out//$'\r'/}
  [ "$rc" -eq 0 ] && return 0
  # Without 32-bit support only the x86 DLL may fail.
  if [ -n "$skipped" ] && [[ $out == *'x64\Quorlin.dll: '*registered* ]] &&
     [[ $out != *'x64\Quorlin.dll: not'* ]]; then
    return 0
  fi
  echo "    exit code $rc:"
  printf '%s\n' "$out" | sed 's/^/    /'
  return 1
}

# read_vbs BITS STATUS: read.vbs in the script host of that bitness ends with STATUS (0: read the
# modem, 3: the object cannot be created).
read_vbs() {
  local rc=0
  "$wine" "$(wine_system_dir "$1")\\cscript.exe" //nologo "$(winpath "$here/read.vbs")" \
    >"$workdir/read.out" 2>&1 || rc=$?
  [ "$rc" -eq "$2" ] && return 0
  echo "    read.vbs exit code $rc:"
  tr -d '\r' <"$workdir/read.out" | sed 's/^/    /'
  return 1
}

# user_registration present|absent: per-user registration as the registry holds it (Wine's COM
# reads only the machine-wide classes, so no host could create the object): the ProgID leads to
# a DLL of the package, or is gone.
user_registration() {
  local reg clsid server
  reg="$(wine_system_dir 64)\\reg.exe"
  clsid=$("$wine" "$reg" query 'HKCU\Software\Classes\AddIn.Quorlin\CLSID' /ve 2>/dev/null |
          tr -d '\r' | grep -o '{[-0-9A-Fa-f]*}') || clsid=
  if [ "$1" = absent ]; then
    [ -z "$clsid" ] || { echo "    HKCU\\Software\\Classes\\AddIn.Quorlin is still there"; return 1; }
    return 0
  fi
  server=$("$wine" "$reg" query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve |
           tr -d '\r' | grep REG_SZ) || true
  [[ $server == *"$win_folder\\x"??"\\Quorlin.dll" ]] || { echo "    server: ${server:-none}"; return 1; }
}

# Machine-wide from the 64-bit cmd, as Explorer starts it.
check "register.cmd (64-bit cmd)" package_script 64 register
for bits in "${bitnesses[@]}"; do
  check "$bits-bit cscript: CreateObject, OpenPort COM3, ReadAllMsg" read_vbs "$bits" 0
done
check "unregister.cmd (64-bit cmd)" package_script 64 unregister
for bits in "${bitnesses[@]}"; do
  check "$bits-bit cscript: not creatable by ProgID" read_vbs "$bits" 3
done

# /user from the 32-bit cmd where it runs, which reaches the 64-bit regsvr32 by another path.
shell=${bitnesses[-1]}
check "register.cmd /user ($shell-bit cmd)" package_script "$shell" register /user
check "registered for the current user" user_registration present
check "unregister.cmd /user ($shell-bit cmd)" package_script "$shell" unregister /user
check "nothing left for the current user" user_registration absent

check "x64\\quorlin.exe --version as the Debian package's" \
  output_has "$("$quorlin" --version)" "$wine" "$win_folder\\x64\\quorlin.exe" --version

if [ "$failed" -ne 0 ]; then echo "packages: FAILED"
else echo "packages: passed${skipped:+ (32-bit: SKIPPED, 32-bit programs cannot run here)}"; fi
exit "$failed"
