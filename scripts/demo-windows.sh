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

# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

workdir=$(mktemp -d /tmp/quorlin-demo.XXXXXX)

cleanup() {
  wine_stop  # first: the wineserver holds the modem's terminal
  modem_stop_all
  rm -rf "$workdir"
}
trap cleanup EXIT

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

wine_fresh_prefix "$workdir/prefix"
echo "Private Wine prefix: $WINEPREFIX"

bitnesses=("$@")
[ ${#bitnesses[@]} -gt 0 ] || bitnesses=(32 64)
for bits in "${bitnesses[@]}"; do
  dll=$(windows_build_dir "$bits")/component/automation/Quorlin.dll
  [ -f "$dll" ] || windows_build "$bits" Quorlin
  system=$(wine_system_dir "$bits")
  if [ "$bits" = 32 ] && ! can_run_32_bit; then
    printf '\n=== 32-bit Quorlin.dll: SKIPPED, this machine cannot start 32-bit Windows programs\n'
    continue
  fi

  printf '\n=== %s-bit Quorlin.dll, driven from %s\\cscript.exe\n' "$bits" "$system"
  "$wine" "$system\\regsvr32.exe" /s "$(winpath "$dll")"
  echo "regsvr32: registered $(winpath "$dll")"

  modem_stop_all
  modem_start "$workdir" "$quorlin_root/simulator/samples/demo-store.txt" || exit 1
  wine_map_port 3 "$modem_pty"
  echo "simulated modem on $modem_pty, mapped to COM3"
  echo

  "$wine" "$system\\cscript.exe" //nologo "$(winpath "$workdir/sequence.vbs")" \
    "$(winpath "$workdir/transcript.txt")"
  iconv -f UTF-16 -t UTF-8 "$workdir/transcript.txt" | tr -d '\r'
  "$wineserver" -w 2>/dev/null || true
done
