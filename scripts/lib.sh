# shellcheck shell=bash
# Helpers the scripts share: installing Debian packages, and running the Windows builds under
# Wine against the simulated modem.
# Source it from bash, e.g. from tests/<suite>/run.sh:  . "$(dirname "$0")/../../scripts/lib.sh"
# Sets quorlin_root, wine (the loader), wineserver, and Wine's environment.

quorlin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The 64-bit loader starts 32-bit programs too; once wine32 is installed, Debian's "wine"
# wrapper picks the 32-bit loader, which cannot start 64-bit programs.
if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null; then wine=$(command -v wine64)
else wine=$(command -v wine || echo wine); fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEDEBUG=-all
# Never the caller's prefix: each run makes its own (wine_fresh_prefix), and wine_stop ends the
# prefix's programs.
unset WINEPREFIX
# No Mono or Gecko installer dialogs, and no desktop menu entries on the machine.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="

# apt_install PACKAGE...: installs from Debian's packages those not installed yet (":i386" ones
# after adding that architecture); as root, or through sudo.
apt_install() {
  local pkg missing=() sudo_cmd=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "installing ${missing[*]}" >&2
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}" >/dev/null
}

# winpath PATH: a Linux path as Wine's drive Z: shows it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# wine_system_dir BITS: the folder of Windows' own programs of that bitness.
wine_system_dir() {
  if [ "$1" = 32 ]; then printf '%s' 'C:\windows\syswow64'; else printf '%s' 'C:\windows\system32'; fi
}

# wine_fresh_prefix DIR [persistent]: a new prefix in DIR (which must not exist yet), exported as
# WINEPREFIX. A prefix is never reused: one made before wine32 was installed cannot start 32-bit
# programs. "persistent" keeps the prefix's wineserver running until wine_stop, so that each
# program starts faster; the server then no longer ends by itself, and what it says (such as the
# dump of its objects when a terminal it holds hangs up) goes to DIR/wineserver.log.
wine_fresh_prefix() {
  export WINEPREFIX=$1
  if [ "${2:-}" = persistent ]; then
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p >"$WINEPREFIX/wineserver.log" 2>&1
  fi
  "$wine" wineboot -i >/dev/null 2>&1 || echo "(wineboot reported a failure; what follows will tell)" >&2
}

# wine_stop: ends every program of the prefix and its wineserver. Call it before the simulated
# modems stop: the wineserver holds their terminals, and a hang-up there makes it dump all its
# objects.
wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}

# can_run_32_bit: whether this machine starts 32-bit Windows programs (a kernel that runs 32-bit
# code, and wine32). Needs WINEPREFIX.
can_run_32_bit() {
  local rc=0
  "$wine" "$(wine_system_dir 32)\\cmd.exe" /c exit 7 >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 7 ]
}

# modem_launch OUTDIR STORE [SIMULATOR OPTION...]: starts the simulated modem on STORE in the
# background, with its output and errors in OUTDIR/modem.out and OUTDIR/modem.err, and adds it to
# modem_pids; modem_wait OUTDIR then waits for its terminal. Modems launched one after the other
# start side by side.
modem_pids=()
modem_pty=
modem_python=
modem_launch() {
  local outdir=$1 store=$2
  shift 2
  # The interpreter itself, not a version manager's shim: a suite may start dozens of modems.
  [ -n "$modem_python" ] || modem_python=$(python3 -c 'import sys; print(sys.executable)')
  mkdir -p "$outdir"
  "$modem_python" "$quorlin_root/simulator/modem_sim.py" --store "$store" "$@" \
    >"$outdir/modem.out" 2>"$outdir/modem.err" &
  modem_pids+=($!)
}

# modem_wait OUTDIR: sets modem_pty to the terminal of the modem launched in OUTDIR. Returns 1,
# with the modem's errors, when it does not start.
modem_wait() {
  local outdir=$1
  modem_pty=
  for _ in $(seq 200); do
    modem_pty=$(head -n 1 "$outdir/modem.out" 2>/dev/null || true)
    [ -n "$modem_pty" ] && return 0
    sleep 0.05
  done
  echo "the simulated modem in $outdir did not start:" >&2
  cat "$outdir/modem.err" >&2
  return 1
}

# modem_start OUTDIR STORE [SIMULATOR OPTION...]: modem_launch, then modem_wait.
modem_start() { modem_launch "$@" && modem_wait "$1"; }

# wine_map_port N PTY: COMn of the prefix leads to the terminal PTY.
wine_map_port() { ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"; }

# wine_unmap_port N: COMn of the prefix leads nowhere.
wine_unmap_port() { rm -f "$WINEPREFIX/dosdevices/com$1"; }

# modem_stop_all: stops every simulated modem modem_launch started.
modem_stop_all() {
  local pid
  for pid in "${modem_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${modem_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  modem_pids=()
}

# windows_build_dir BITS: the build tree of the Windows build of that bitness: QUORLIN_BUILD32 or
# QUORLIN_BUILD64, or else the preset's build/mingw<BITS>.
windows_build_dir() {
  local named=QUORLIN_BUILD$1
  printf '%s' "${!named:-$quorlin_root/build/mingw$1}"
}

# windows_build BITS TARGET...: builds the TARGETs in windows_build_dir BITS, configured first as
# the preset mingw<BITS> is when the tree has not been configured yet.
windows_build() {
  local bits=$1 build
  shift
  build=$(windows_build_dir "$bits")
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$quorlin_root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$quorlin_root/cmake/toolchain-mingw$bits.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target "$@"
}
