#!/usr/bin/env bash
# The component itself at work, as a Windows host would use it: in a private Wine prefix,
# regsvr32 registers Quorlin.dll, the simulated modem with the sample messages stands on COM3,
# and a VBScript in the script host of the DLL's bitness drives the usual sequence late-bound
# (CreateObject("AddIn.Quorlin"), PortNumber, PortSpeed, OpenPort, ReadAllMsg, SMS, DeleteMsg,
# ClosePort), printing Error after each step and the messages.
#
# Usage: scripts/demo-windows.sh [32] [64]   (default: both; a build that is missing is made)
# A 32-bit DLL needs a machine that runs 32-bit programs (wine32); where it cannot, it is skipped.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null; then wine=$(command -v wine64)
else wine=$(command -v wine); fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

workdir=$(mktemp -d /tmp/quorlin-demo.XXXXXX)
export WINEPREFIX=$workdir/prefix
sim_pid=

stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
cleanup() {
  "$wineserver" -k 2>/dev/null || true  # first: it holds the modem's terminal
  stop_simulator
  rm -rf "$workdir"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "${1//\//\\}"; }

cat >"$workdir/sequence.vbs" <<'VBS'
' The usual sequence of a host; what the component says goes to a UTF-16 file (argument 1),
' since the console shows only the ANSI code page.
Dim q, fso, out, info(0)
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(0), True, True)
Set q = CreateObject("AddIn.Quorlin")
out.WriteLine "Info:" & vbCrLf & q.Info
q.IInitDone_GetInfo info
out.WriteLine "GetInfo:       " & info(0)
q.PortNumber = 3
q.PortSpeed = 19200
q.OpenPort
out.WriteLine "OpenPort       Error = " & q.Error
q.ReadAllMsg
out.WriteLine "ReadAllMsg     Error = " & q.Error
out.WriteLine "SMS:"
out.Write q.SMS
q.DeleteMsg
out.WriteLine "DeleteMsg      Error = " & q.Error
q.ReadAllMsg
out.WriteLine "ReadAllMsg     Error = " & q.Error & ", SMS = " & q.SMS
q.ClosePort
out.WriteLine "ClosePort      Error = " & q.Error
out.Close
VBS

echo "Private Wine prefix: $WINEPREFIX"
"$wine" wineboot -i >/dev/null 2>&1 || echo "(wineboot reported a failure)"

bitnesses=("$@")
[ ${#bitnesses[@]} -gt 0 ] || bitnesses=(32 64)
for bits in "${bitnesses[@]}"; do
  build=$root/build/mingw$bits
  dll=$build/component/automation/Quorlin.dll
  if [ ! -f "$dll" ]; then
    cmake --preset "mingw$bits" >/dev/null
    cmake --build "$build" -j2 --target Quorlin
  fi
  if [ "$bits" = 32 ]; then
    system='C:\windows\syswow64'
    rc=0; "$wine" "$system\\cmd.exe" /c exit 7 >/dev/null 2>&1 || rc=$?
    if [ "$rc" -ne 7 ]; then
      printf '\n=== 32-bit Quorlin.dll: skipped, this machine cannot start 32-bit Windows programs\n'
      continue
    fi
  else
    system='C:\windows\system32'
  fi

  printf '\n=== %s-bit Quorlin.dll, driven from %s\\cscript.exe\n' "$bits" "$system"
  "$wine" "$system\\regsvr32.exe" /s "$(winpath "$dll")"
  echo "regsvr32: registered $(winpath "$dll")"

  stop_simulator
  cp "$root/simulator/samples/demo-store.txt" "$workdir/store.txt"
  python3 "$root/simulator/modem_sim.py" --store "$workdir/store.txt" >"$workdir/sim.out" &
  sim_pid=$!
  pty=
  for _ in $(seq 100); do
    pty=$(head -n 1 "$workdir/sim.out")
    [ -n "$pty" ] && break
    sleep 0.05
  done
  [ -n "$pty" ] || { echo "the simulated modem did not start" >&2; exit 1; }
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com3"
  echo "simulated modem on $pty, mapped to COM3"
  echo

  "$wine" "$system\\cscript.exe" //nologo "$(winpath "$workdir/sequence.vbs")" \
    "$(winpath "$workdir/transcript.txt")"
  iconv -f UTF-16 -t UTF-8 "$workdir/transcript.txt" | tr -d '\r'
  "$wineserver" -w 2>/dev/null || true
done
