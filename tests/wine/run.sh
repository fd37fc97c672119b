#!/usr/bin/env bash
# Quorlin.dll under Wine, for the 32-bit (build/mingw32) and the 64-bit (build/mingw64) build,
# each in a fresh Wine prefix:
#   - regsvr32 registers the DLL; the COM client's "server" suite checks the type library,
#     QueryInterface, DllCanUnloadNow, every member by name, GetInfo and the host connection;
#   - the simulated modem on a pty mapped to COM3 and COM12: port errors and the whole sequence
#     through Wine's serial layer ("modem" suite);
#   - a VBScript in the script host of the same bitness reads and deletes the messages;
#   - the command-line front end quorlin.exe reads them through COM12;
#   - regsvr32 /u, and creation by ProgID fails; the same for "regsvr32 /n /i:user".
# Where 32-bit programs cannot run (a kernel without 32-bit support, no wine32) the 32-bit part
# is reported as skipped, and only the 32-bit DLL's exports, type library and resources are
# checked, as a file. Builds a preset that is missing.
# Usage: tests/wine/run.sh [32] [64]   (default: both)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/wine

# The 64-bit loader starts 32-bit programs too; Debian's "wine" wrapper would pick the 32-bit
# loader, which cannot start 64-bit programs.
if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null; then wine=$(command -v wine64)
else wine=$(command -v wine); fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs

failed=0
summary=()
sim_pid=
workdir=

winpath() { printf 'Z:%s' "${1//\//\\}"; }

stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}

cleanup() {
  if [ -n "$workdir" ]; then
    # The wineserver holds the pty; stop it before its modem goes away.
    WINEPREFIX=$workdir/prefix "$wineserver" -k 2>/dev/null || true
    stop_simulator
    rm -rf "$workdir"
    workdir=
  fi
}
trap cleanup EXIT

# Starts the simulated modem on a fresh copy of the test store and maps COM3 and COM12 to it.
start_simulator() {
  stop_simulator
  cp "$here/modem-store.txt" "$workdir/store.txt"
  : >"$workdir/sim.out"
  python3 "$root/simulator/modem_sim.py" --store "$workdir/store.txt" \
    --log "$workdir/sim.log" >"$workdir/sim.out" 2>"$workdir/sim.err" &
  sim_pid=$!
  local pty=
  for _ in $(seq 200); do
    pty=$(head -n 1 "$workdir/sim.out")
    [ -n "$pty" ] && break
    sleep 0.05
  done
  [ -n "$pty" ] || { echo "the simulated modem did not start" >&2; cat "$workdir/sim.err" >&2; return 1; }
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com3"
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com12"
  rm -f "$WINEPREFIX/dosdevices/com5"
}

check() {
  local name=$1; shift
  local started=$SECONDS
  if "$@"; then
    echo "  ok    $name ($((SECONDS - started)) s)"
  else
    echo "  FAIL  $name"
    failed=1
  fi
}

client() { "$wine" "$(winpath "$client_exe")" "$@"; }

front_end_reads() {
  "$wine" "$(winpath "$front_end_exe")" read --device 12 >"$workdir/front-end.out" \
    2>"$workdir/front-end.err" || { tr '\r' '\n' <"$workdir/front-end.err"; return 1; }
  tr -d '\r' <"$workdir/front-end.out" | diff "$here/expected/sms.txt" -
}

vbscript_reads_and_deletes() {
  local out=$workdir/vbscript-out.txt
  "$wine" "$cscript" //nologo "$(winpath "$here/read_and_delete.vbs")" "$(winpath "$out")" || return 1
  {
    printf 'OpenPort COM5: Error. Port COM5:  19200,n,8,1\n'
    printf 'OpenPort fast: Error. Port COM3:  fast,n,8,1\n'
    printf 'OpenPort: OK\nReadAllMsg: OK\n'
    cat "$here/expected/sms.txt"
    printf 'GetInfo: 1000 (String)\n'
    printf 'DeleteMsg: %s\n' "$(cat "$here/expected/delete-report.txt")"
    printf 'ReadAllMsg: OK, SMS: Empty\nClosePort: OK\n'
  } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$workdir/vbscript-expected.txt"
  if ! cmp -s "$out" "$workdir/vbscript-expected.txt"; then
    diff <(iconv -f UTF-16 -t UTF-8 "$workdir/vbscript-expected.txt") \
         <(iconv -f UTF-16 -t UTF-8 "$out") || true
    return 1
  fi
}

# A 32-bit program starts only where the kernel runs 32-bit code and Wine has its 32-bit half.
can_run_32_bit() {
  local rc=0
  "$wine" 'C:\windows\syswow64\cmd.exe' /c exit 7 >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 7 ]
}

exports_are_undecorated() {
  local names
  names=$(i686-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
  [ "$names" = "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer " ] ||
    { echo "    exports: $names"; return 1; }
}

# Where 32-bit programs cannot run: the 32-bit DLL's exports, and its type library and
# resources read by the 64-bit client.
check_32_bit_dll_as_file() {
  local dll=$1 before=$failed
  local client64=$root/build/mingw64/tests/wine/com_client_test.exe
  if [ ! -f "$client64" ]; then
    cmake --preset mingw64 >/dev/null
    cmake --build "$root/build/mingw64" -j2 --target com_client_test
  fi
  failed=0
  check "exports DllGetClassObject & co. undecorated" exports_are_undecorated "$dll"
  check "type library and resources (read by the 64-bit client)" \
    "$wine" "$(winpath "$client64")" file "$(winpath "$dll")" 32
  if [ "$failed" -eq 0 ]; then
    summary+=("32-bit: SKIPPED at run time (32-bit programs cannot run here); file checks passed")
  else
    summary+=("32-bit: file checks FAILED")
  fi
  failed=$((before | failed))
}

run_bitness() {
  local bits=$1
  local build=$root/build/mingw$bits
  client_exe=$build/tests/wine/com_client_test.exe
  front_end_exe=$build/cli/quorlin.exe
  local dll=$build/component/automation/Quorlin.dll
  if [ ! -f "$dll" ] || [ ! -f "$client_exe" ] || [ ! -f "$front_end_exe" ]; then
    cmake --preset "mingw$bits" >/dev/null
    cmake --build "$build" -j2 --target Quorlin com_client_test quorlin
  fi

  echo "== $bits-bit build"
  local started=$SECONDS
  workdir=$(mktemp -d /tmp/quorlin-wine.XXXXXX)
  export WINEPREFIX=$workdir/prefix
  "$wine" wineboot -i >/dev/null 2>&1 || echo "  (wineboot reported a failure; the checks below will tell)"

  local regsvr32 cscript
  if [ "$bits" = 32 ]; then
    if ! can_run_32_bit; then
      echo "  SKIPPED at run time: this machine cannot start 32-bit Windows programs under Wine"
      echo "  (no 32-bit support in the kernel, or no wine32); the DLL is checked as a file:"
      check_32_bit_dll_as_file "$dll"
      cleanup
      return
    fi
    regsvr32='C:\windows\syswow64\regsvr32.exe'
    cscript='C:\windows\syswow64\cscript.exe'
  else
    regsvr32='C:\windows\system32\regsvr32.exe'
    cscript='C:\windows\system32\cscript.exe'
  fi
  local dll_path
  dll_path=$(winpath "$dll")
  local before=$failed
  failed=0

  check "regsvr32" "$wine" "$regsvr32" /s "$dll_path"
  check "COM client: registered machine" client registered machine
  start_simulator
  check "COM client: server" client server
  check "COM client: modem on COM3 and COM12" client modem "$(winpath "$here/expected")"
  start_simulator
  check "VBScript in $bits-bit cscript reads and deletes" vbscript_reads_and_deletes
  start_simulator
  check "quorlin.exe read --device 12" front_end_reads
  check "regsvr32 /u" "$wine" "$regsvr32" /u /s "$dll_path"
  check "COM client: unregistered machine" client unregistered machine
  check "regsvr32 /n /i:user" "$wine" "$regsvr32" /s /n /i:user "$dll_path"
  check "COM client: registered user" client registered user
  check "regsvr32 /u /n /i:user" "$wine" "$regsvr32" /u /s /n /i:user "$dll_path"
  check "COM client: unregistered user" client unregistered user

  if [ "$failed" -eq 0 ]; then
    summary+=("$bits-bit: passed ($((SECONDS - started)) s)")
  else
    summary+=("$bits-bit: FAILED")
  fi
  failed=$((before | failed))
  cleanup
}

bitnesses=("$@")
[ ${#bitnesses[@]} -gt 0 ] || bitnesses=(32 64)
for bits in "${bitnesses[@]}"; do
  case "$bits" in
    32|64) run_bitness "$bits" ;;
    *) echo "usage: $0 [32] [64]" >&2; exit 2 ;;
  esac
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
