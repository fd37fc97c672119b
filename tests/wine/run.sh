#!/usr/bin/env bash
# Quorlin.dll under Wine, for the 32-bit (build/mingw32) and the 64-bit (build/mingw64) build,
# each in a fresh Wine prefix:
#   - regsvr32 registers the DLL; the COM client's "server" suite checks the type library,
#     QueryInterface, DllCanUnloadNow, every member by name, GetInfo and the host connection;
#   - the "hostile" suite: GetInfo with arrays of unknown elements, what keeps the DLL loaded;
#   - the simulated modem on a pty mapped to COM3 and COM12: port errors and the whole sequence
#     through Wine's serial layer; joined parts on COM14, texts with control characters on COM16
#     ("modem" suite);
#   - the "yields" suite: a host that re-enters or releases the object from its yields, with
#     simulated modems of its own for each case (COM20 upwards), started all at once;
#   - a VBScript in the script host of the same bitness reads and deletes the messages;
#   - the command-line front end quorlin.exe reads them through COM12;
#   - regsvr32 /u, and creation by ProgID fails; the same for "regsvr32 /n /i:user";
#   - in the 64-bit prefix, both DLLs registered side by side: either one unregistered leaves the
#     other creatable; both unregistered leave nothing in either registry view.
# Where 32-bit programs cannot run (a kernel without 32-bit support, no wine32) the 32-bit part
# is reported as skipped, and only the 32-bit DLL's exports, type library and resources are
# checked, as a file. Builds what is missing (not what is stale).
# Usage: tests/wine/run.sh [32] [64]   (default: both)
# QUORLIN_BUILD32 and QUORLIN_BUILD64 name other build directories (default build/mingw32 and
# build/mingw64).
set -euo pipefail

# The Wine loader and helpers, the simulated modem's helpers, the Windows build trees.
# shellcheck source=../../scripts/lib.sh
. "$(dirname "$0")/../../scripts/lib.sh"
here=$quorlin_root/tests/wine

failed=0
summary=()
pending_modems=()
sim_options=()
workdir=

# ensure_built BITS: builds the DLL, the client and the front end when one of them is missing.
ensure_built() {
  local build
  build=$(windows_build_dir "$1")
  [ -f "$build/component/automation/Quorlin.dll" ] && [ -f "$build/cli/quorlin.exe" ] &&
    [ -f "$build/tests/wine/com_client_test.exe" ] && return 0
  windows_build "$1" Quorlin com_client_test quorlin
}

cleanup() {
  if [ -n "$workdir" ]; then
    wine_stop  # first: the wineserver holds the modems' terminals
    modem_stop_all
    pending_modems=()
    rm -rf "$workdir"
    workdir=
  fi
}
trap cleanup EXIT

# launch_modem STORE PORT...: a simulated modem (with $sim_options) on STORE, logging to
# logs/com<first PORT>.log; map_modems then maps the PORTs to its terminal.
launch_modem() {
  local store=$1 name=com$2
  modem_launch "$workdir/logs/$name" "$store" "${sim_options[@]}" --log "$workdir/logs/$name.log"
  shift
  pending_modems+=("$name $*")
}

map_modems() {
  local entry name ports port
  for entry in "${pending_modems[@]}"; do
    read -r name ports <<<"$entry"
    modem_wait "$workdir/logs/$name" || { pending_modems=(); return 1; }
    for port in $ports; do wine_map_port "$port" "$modem_pty"; done
  done
  pending_modems=()
}

# The simulated modem with a fresh test store on COM3 and COM12, others on COM14 to COM19 (COM19
# hangs up when a second part is sent); COM5 leads nowhere. Modems started before keep running
# until the wineserver is gone: the wineserver took the first terminal it opened as its
# controlling one, and a hang-up there makes it dump all its objects.
start_simulator() {
  launch_modem "$here/modem-store.txt" 3 12
  launch_modem "$here/join-store.txt" 14
  launch_modem "$here/nul-store.txt" 16
  local sim_options=(--first-reference 17)
  launch_modem "$here/join-store.txt" 18
  sim_options=(--first-reference 17 --hangup-on-send 2)
  launch_modem "$here/join-store.txt" 19
  map_modems
  wine_unmap_port 5
}

# The modems of the "yields" suite's cases, all at once: the test store on the port a case
# starts on (with the options the case names, such as --refill), other-store.txt on the port it
# may switch to ("-": none). Paced at the line speed the cases use, a listing always outlasts the
# object's first read, so a host that re-enters there always leaves the rest of it unread (and
# the object waits out its polls): the same path every run.
start_yield_modems() {
  local first second options extra sim_options
  while read -r first second options; do
    read -r -a extra <<<"$options"
    sim_options=(--baud 19200 "${extra[@]}")
    launch_modem "$here/modem-store.txt" "$first"
    sim_options=(--baud 19200)
    [ "$second" = - ] || launch_modem "$here/other-store.txt" "$second"
  done < <(client yields modems | tr -d '\r')
  map_modems
}

# The text of the send check: Cyrillic and an emoji, so UCS2 in two parts.
SEND_TEXT="Здравствуйте! Ваш заказ 4711 готов. Заберите его в пункте выдачи до пятницы, мы ждём вас 😀"

# SendMsg from VBScript: each part once, with the status report asked for, read back whole.
vbscript_sends() {
  local out=$workdir/send-out.txt text=$workdir/send-text.txt
  printf '%s' "$SEND_TEXT" | iconv -f UTF-8 -t UTF-16 >"$text"
  "$wine" "$cscript" //nologo "$(winpath "$here/send_message.vbs")" "$(winpath "$out")" \
    "$(winpath "$text")" || return 1
  printf 'SendMsg without a port: Error. COM is closed\r\nSendMsg to no number: Error\r\n%s\r\n' \
    'SendMsg: OK, references: 17 18' | iconv -f UTF-8 -t UTF-16 >"$workdir/send-expected.txt"
  if ! cmp -s "$out" "$workdir/send-expected.txt"; then
    diff <(iconv -f UTF-16 -t UTF-8 "$workdir/send-expected.txt") <(iconv -f UTF-16 -t UTF-8 "$out")
    return 1
  fi
  local pdus
  mapfile -t pdus < <(python3 - "$workdir/logs/com18.log" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    event = json.loads(line)
    if event["event"] == "sent":
        pdu = event["pdu"]
        first = int(pdu[2 + 2 * int(pdu[:2], 16):][:2], 16)
        assert first & 0x20, "no status report asked for"
        print(pdu)
PY
  )
  [ "${#pdus[@]}" -eq 2 ] || { echo "sent ${#pdus[@]} parts, not 2"; return 1; }
  "$wine" "$(winpath "$front_end_exe")" decode --join "${pdus[@]}" | tr -d '\r' |
    diff <(printf '\t+79161234567\t%s\n' "$SEND_TEXT") -
}

# A modem that goes (unplugged) after the first part: the send says so at once, where it would
# otherwise wait a minute for the result of the second.
front_end_send_stops_when_the_modem_goes() {
  local started=$SECONDS out
  out=$("$wine" "$(winpath "$front_end_exe")" send --device 19 --to +79161234567 \
    "$(printf 'word %.0s' $(seq 70))" 2>/dev/null | tr -d '\r')
  [ "$out" = "sent 1 part of 3 to +79161234567: references 17; stopped: no answer: part 2 may or may not have been sent" ] ||
    { echo "    $out"; return 1; }
  [ $((SECONDS - started)) -lt 20 ] || { echo "    took $((SECONDS - started)) s"; return 1; }
}

# The front end takes its arguments as the command line gives them (UTF-16), not through the
# ANSI code page, where the Cyrillic text would be lost.
front_end_sends_a_cyrillic_argument() {
  local pdus
  mapfile -t pdus < <("$wine" "$(winpath "$front_end_exe")" send --dry-run --to +79161234567 \
    "$SEND_TEXT" | tr -d '\r')
  "$wine" "$(winpath "$front_end_exe")" decode --join "${pdus[@]}" | tr -d '\r' |
    diff <(printf '\t+79161234567\t%s\n' "$SEND_TEXT") -
}

# A port mapped in Wine's registry (not only in dosdevices) is what Windows programs list: the
# front end and the Ports property both name it.
ports_are_listed() {
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$modem_pty" /f >/dev/null 2>&1 || return 1
  wine_stop  # the serial ports are looked at when the wineserver starts
  local listed out=$workdir/ports-out.txt
  listed=$("$wine" "$(winpath "$front_end_exe")" ports | tr -d '\r')
  [[ $listed == *COM7* ]] || { echo "    quorlin.exe ports: ${listed:-nothing}"; return 1; }
  "$wine" "$regsvr32" /s "$dll_path" || return 1
  "$wine" "$cscript" //nologo "$(winpath "$here/list_ports.vbs")" "$(winpath "$out")" || return 1
  "$wine" "$regsvr32" /u /s "$dll_path"
  listed=$(iconv -f UTF-16 -t UTF-8 "$out" | tr -d '\r')
  [[ $listed == *COM7* ]] || { echo "    Ports: ${listed:-nothing}"; return 1; }
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
  local client64
  client64=$(windows_build_dir 64)/tests/wine/com_client_test.exe
  [ -f "$client64" ] || ensure_built 64
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
  local build
  build=$(windows_build_dir "$bits")
  client_exe=$build/tests/wine/com_client_test.exe
  front_end_exe=$build/cli/quorlin.exe
  local dll=$build/component/automation/Quorlin.dll
  ensure_built "$bits"

  echo "== $bits-bit build"
  local started=$SECONDS
  workdir=$(mktemp -d /tmp/quorlin-wine.XXXXXX)
  wine_fresh_prefix "$workdir/prefix"

  if [ "$bits" = 32 ] && ! can_run_32_bit; then
    echo "  SKIPPED at run time: this machine cannot start 32-bit Windows programs under Wine"
    echo "  (no 32-bit support in the kernel, or no wine32); the DLL is checked as a file:"
    check_32_bit_dll_as_file "$dll"
    cleanup
    return
  fi
  local regsvr32 cscript
  regsvr32="$(wine_system_dir "$bits")\\regsvr32.exe"
  cscript="$(wine_system_dir "$bits")\\cscript.exe"
  local dll_path
  dll_path=$(winpath "$dll")
  local before=$failed
  failed=0

  check "regsvr32" "$wine" "$regsvr32" /s "$dll_path"
  check "COM client: registered machine" client registered machine
  start_simulator
  check "COM client: server" client server
  check "COM client: hostile host, no modem" client hostile
  check "COM client: modem on COM3 and COM12" client modem "$(winpath "$here/expected")"
  start_yield_modems
  check "COM client: re-entered and released from yields" \
    client yields "$(winpath "$here")" "$(winpath "$workdir/logs")"
  start_simulator
  check "VBScript in $bits-bit cscript reads and deletes" vbscript_reads_and_deletes
  check "VBScript in $bits-bit cscript sends" vbscript_sends
  start_simulator
  check "quorlin.exe read --device 12" front_end_reads
  check "quorlin.exe send --dry-run with a Cyrillic argument" front_end_sends_a_cyrillic_argument
  check "quorlin.exe send stops at once when the modem goes" front_end_send_stops_when_the_modem_goes
  check "regsvr32 /u" "$wine" "$regsvr32" /u /s "$dll_path"
  check "COM client: unregistered machine" client unregistered machine
  check "regsvr32 /n /i:user" "$wine" "$regsvr32" /s /n /i:user "$dll_path"
  check "COM client: registered user" client registered user
  check "regsvr32 /u /n /i:user" "$wine" "$regsvr32" /u /s /n /i:user "$dll_path"
  check "COM client: unregistered user" client unregistered user
  check "quorlin.exe ports and Ports name a port mapped in the registry" ports_are_listed
  if [ "$bits" = 64 ]; then both_bitnesses_in_one_prefix "$dll_path"; fi

  if [ "$failed" -eq 0 ]; then
    summary+=("$bits-bit: passed ($((SECONDS - started)) s)")
  else
    summary+=("$bits-bit: FAILED")
  fi
  failed=$((before | failed))
  cleanup
}

# Both DLLs registered in the 64-bit run's prefix (where 32-bit programs run): unregistering one
# leaves the other creatable by ProgID from a client of its bitness, unregistering both leaves
# no key of the component in either registry view.
both_bitnesses_in_one_prefix() {
  local dll64=$1
  if ! can_run_32_bit; then
    echo "  SKIPPED both bitnesses in one prefix: this machine cannot start 32-bit Windows programs"
    summary+=("both bitnesses in one prefix: SKIPPED (32-bit programs cannot run here)")
    return
  fi
  ensure_built 32
  local build32 dll32 r32 r64
  r32="$(wine_system_dir 32)\\regsvr32.exe"
  r64="$(wine_system_dir 64)\\regsvr32.exe"
  build32=$(windows_build_dir 32)
  dll32=$(winpath "$build32/component/automation/Quorlin.dll")
  client32() { "$wine" "$(winpath "$build32/tests/wine/com_client_test.exe")" "$@"; }
  check "both: regsvr32 64-bit" "$wine" "$r64" /s "$dll64"
  check "both: regsvr32 32-bit" "$wine" "$r32" /s "$dll32"
  check "both: 64-bit client, registered" client registered machine
  check "both: 32-bit client, registered" client32 registered machine
  check "both: regsvr32 /u 32-bit" "$wine" "$r32" /u /s "$dll32"
  check "both: 64-bit still registered" client registered machine
  check "both: regsvr32 32-bit again" "$wine" "$r32" /s "$dll32"
  check "both: regsvr32 /u 64-bit" "$wine" "$r64" /u /s "$dll64"
  check "both: 32-bit still registered" client32 registered machine
  check "both: regsvr32 /u 32-bit" "$wine" "$r32" /u /s "$dll32"
  check "both: nothing left (64-bit client)" client unregistered machine
  check "both: nothing left (32-bit client)" client32 unregistered machine
}

bitnesses=("$@")
[ ${#bitnesses[@]} -gt 0 ] || bitnesses=(32 64)
for bits in "${bitnesses[@]}"; do
  case "$bits" in
    32|64) ensure_built "$bits" ;;
    *) echo "usage: $0 [32] [64]" >&2; exit 2 ;;
  esac
done
# The 64-bit run also registers the 32-bit DLL beside its own.
[[ " ${bitnesses[*]} " != *" 64 "* ]] || ensure_built 32

# The bitnesses side by side, each in a prefix and with modems of its own: most of the time
# goes to waiting on the modems. Each one's output is shown once it has finished.
outputs=$(mktemp -d)
pids=()
for bits in "${bitnesses[@]}"; do
  (
    trap cleanup EXIT
    run_bitness "$bits"
    printf '%s\n' "${summary[@]}" >"$outputs/$bits.summary"
    exit "$failed"
  ) >"$outputs/$bits.log" 2>&1 &
  pids+=($!)
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed=1
  cat "$outputs/${bitnesses[$i]}.log"
  mapfile -t -O "${#summary[@]}" summary <"$outputs/${bitnesses[$i]}.summary" ||
    summary+=("${bitnesses[$i]}-bit: ended early")
done
rm -rf "$outputs"

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
