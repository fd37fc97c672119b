#!/usr/bin/env bash
# Darvello under Wine and Xvfb, for each built bitness:
#   stub          Darvello against a stand-in component that records what reaches it
#   stub-close    the same, closing the window while a call runs
#   unregistered  no component registered: only the creation failure, no window
#   round         Darvello against Quorlin.dll and the simulated modem on a COM port
#   nul-text      the same with texts holding a NUL (tests/wine/nul-store.txt): the message box
#                 shows U+FFFD in its place and every message after it
# The driver (driver.cpp) plays the user inside Wine and logs every message box; each log is
# compared with expected/<scenario>.log. Exits non-zero on any difference.
#
# Settings (environment):
#   DARVELLO_BUILDS      build trees to test (default: the Windows build trees, build/mingw32
#                        build/mingw64 unless QUORLIN_BUILD32 or QUORLIN_BUILD64 say otherwise)
#   DARVELLO_SCENARIOS   scenarios to run (default: stub stub-close unregistered round nul-text)
#   DARVELLO_COM         COM port number of the simulated modem (default: 3)
#   DARVELLO_SCREENSHOT  where to save a PNG of the window, e.g. docs/darvello.png (default: none)
#   DARVELLO_REQUIRE_32  1: fail instead of skipping when 32-bit Wine programs cannot run here,
#                        and run them also when they run only under qemu emulation (slowly)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/lib.sh
. "$here/../../scripts/lib.sh"
builds=${DARVELLO_BUILDS:-"$(windows_build_dir 32) $(windows_build_dir 64)"}
scenarios=${DARVELLO_SCENARIOS:-"stub stub-close unregistered round nul-text"}
com=${DARVELLO_COM:-3}
screenshot=${DARVELLO_SCREENSHOT:-}
[ -n "$screenshot" ] && screenshot=$(realpath -m "$screenshot")

work=$(mktemp -d /tmp/darvello-test.XXXXXX)
xvfb_pid=
# English messages and a full stop as the decimal point, whatever the caller's locale.
export LC_ALL=C.UTF-8 LANG=C.UTF-8

# Debian's `wine` starts the 32-bit loader whenever it is installed, even where the kernel
# cannot run it: runs_32_bit below tells by what it starts. 64-bit programs go straight to the
# 64-bit loader (lib.sh's $wine).
wine32=$(command -v wine || true)

# wine_of BITS: the loader for programs of that bitness.
wine_of() { if [ "$1" = 32 ]; then printf '%s' "$wine32"; else printf '%s' "$wine"; fi; }

cleanup() {
  wine_stop  # first: the wineserver holds the modem's terminal
  modem_stop_all
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf 'darvello: %s\n' "$*"; }

# A display of our own: Xvfb picks a free number itself and writes it once it accepts clients,
# so runs side by side on one machine never meet on one display.
start_display() {
  local display
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do
    # A whole line only: read fails on a number not written to its end yet.
    if read -r display 2>/dev/null <"$work/display"; then
      export DISPLAY=":$display"
      return
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  say "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1
}

# regsvr <bits> <dll> [/u]
regsvr() {
  local bits=$1 dll=$2 status=0; shift 2
  "$(wine_of "$bits")" "$(wine_system_dir "$bits")\\regsvr32.exe" /s "$@" "$(winpath "$dll")" ||
    status=$?
  [ "$status" -eq 0 ] || { say "regsvr32 $* $dll failed ($status)"; exit 1; }
}

# drive <bits> <build> <scenario> <log> [driver options]
drive() {
  local bits=$1 build=$2 scenario=$3 log=$4; shift 4
  "$(wine_of "$bits")" "$build/tests/darvello/darvello_driver.exe" "$scenario" \
    "$(winpath "$build/testapp/Darvello.exe")" "$(winpath "$log")" "$@" || true
}

take_screenshot() {
  local prefix=$1 geometry
  while [ ! -s "$prefix.ready" ]; do
    [ -e "$prefix.stop" ] && return
    sleep 0.1
  done
  geometry=$(tr -d '\r\n' <"$prefix.ready")
  mkdir -p "$(dirname "$screenshot")"
  import -window root -crop "$geometry" +repage "$screenshot"
  say "screenshot of the window saved as $screenshot"
  touch "$prefix.done"
}

# start_modem STORE
start_modem() {
  modem_start "$work" "$1" --log "$work/modem.log" ||
    { say "the simulated modem did not start"; exit 1; }
  wine_map_port "$com" "$modem_pty"
}

stop_modem() {
  modem_stop_all
  wine_unmap_port "$com"
}

failures=0
compare() {
  local label=$1 expected=$2 actual=$3
  if python3 "$here/compare_log.py" "$expected" "$actual"; then
    say "$label: as expected (${SECONDS}s into the run)"
  else
    say "$label: differs from the expected log (above)"
    failures=$((failures + 1))
  fi
}

run_bitness() {
  local bits=$1 build=$2 scenario log
  for scenario in $scenarios; do
    log="$work/$bits-$scenario.log"
    case $scenario in
      stub | stub-close)
        regsvr "$bits" "$build/tests/darvello/darvello_stub.dll"
        if [ "$scenario" = stub ] && [ -n "$screenshot" ] && [ ! -e "$work/shot.done" ]; then
          take_screenshot "$work/shot" &
          local shooter=$!
          drive "$bits" "$build" stub "$log" --screenshot "$(winpath "$work/shot")"
          touch "$work/shot.stop"
          wait "$shooter"
        else
          drive "$bits" "$build" "$scenario" "$log"
        fi
        regsvr "$bits" "$build/tests/darvello/darvello_stub.dll" /u
        ;;
      unregistered)
        drive "$bits" "$build" unregistered "$log"
        ;;
      round | nul-text)
        local dll="$build/component/automation/Quorlin.dll" store
        [ -f "$dll" ] || { say "$bits-bit: $dll is missing"; failures=$((failures + 1)); continue; }
        store=$quorlin_root/simulator/samples/demo-store.txt
        [ "$scenario" = round ] || store=$quorlin_root/tests/wine/nul-store.txt
        start_modem "$store"
        regsvr "$bits" "$dll"
        drive "$bits" "$build" "$scenario" "$log" --port "$com"
        regsvr "$bits" "$dll" /u
        stop_modem
        ;;
      *)
        say "unknown scenario $scenario"; exit 2 ;;
    esac
    # The expected logs against the modem name the port as @PORT@.
    sed "s/@PORT@/$com/g" "$here/expected/$scenario.log" >"$work/expected-$scenario.log"
    compare "$bits-bit $scenario" "$work/expected-$scenario.log" "$log"
  done
}

# 32 or 64, from the machine field of a program's PE header.
pe_bits() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  [ "$machine" = 8664 ] && echo 64 || echo 32
}

# The 32-bit Wine loader needs a kernel that runs 32-bit programs. Where only qemu-user runs them
# (binfmt_misc), Wine starts, but far too slowly for this test: the probe's process shows that
# by running qemu instead of the loader. Otherwise the driver without arguments prints its usage
# and ends with 2.
emulated_32=0
runs_32_bit() {
  local status=0 pid exe
  [ -n "$wine32" ] || return 1
  "$wine32" "$1/tests/darvello/darvello_driver.exe" >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null || true)
    case $exe in
      '' | */sh | */dash | */bash) sleep 0.02 ;;
      *qemu*)
        emulated_32=1
        # Emulated programs start in about a minute each: run them only when asked to.
        [ "${DARVELLO_REQUIRE_32:-0}" = 1 ] && break
        kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
        return 1 ;;
      *) break ;;
    esac
  done
  wait "$pid" || status=$?
  [ "$status" -eq 2 ]
}

start_display
say "new Wine prefix $work/prefix"
# One server for the whole run: each program starts faster when it is already there.
wine_fresh_prefix "$work/prefix" persistent
say "Wine prefix ready (${SECONDS}s into the run)"
# Without a window manager Wine draws the window frames itself, as the screenshot shows them.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
# Ports that Wine maps to the machine's own serial devices by itself are not ours.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -delete

tested=0
for build in $builds; do
  if [ ! -f "$build/testapp/Darvello.exe" ]; then
    say "no Darvello.exe in $build"; failures=$((failures + 1)); continue
  fi
  bits=$(pe_bits "$build/testapp/Darvello.exe")
  if [ "$bits" = 32 ] && ! runs_32_bit "$build"; then
    if [ "${DARVELLO_REQUIRE_32:-0}" = 1 ]; then
      say "32-bit Wine programs cannot run here"; failures=$((failures + 1))
    elif [ "$emulated_32" = 1 ]; then
      say "SKIPPED 32-bit: 32-bit programs run here only under qemu emulation, too slowly"
    else
      say "SKIPPED 32-bit: Wine cannot run 32-bit programs on this machine"
    fi
    continue
  fi
  say "$bits-bit build in $build"
  run_bitness "$bits" "$build"
  tested=$((tested + 1))
done

if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
[ "$tested" -gt 0 ] || { say "nothing was tested"; exit 1; }
say "all checks passed in ${SECONDS}s"
