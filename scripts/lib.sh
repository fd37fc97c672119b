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
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs

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

# wine_fresh_prefix DIR: a new prefix in DIR (which must not exist yet), exported as WINEPREFIX.
# A prefix is never reused: one made before wine32 was installed cannot start 32-bit programs.
wine_fresh_prefix() {
  export WINEPREFIX=$1
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

# modem_start OUTDIR STORE [SIMULATOR OPTION...]: starts the simulated modem on STORE, with its
# output and errors in OUTDIR/modem.out and OUTDIR/modem.err; sets modem_pty to its terminal
# and adds it to modem_pids. Returns 1 when it does not start.
modem_pids=()
modem_pty=
modem_start() {
  local outdir=$1 store=$2
  shift 2
  mkdir -p "$outdir"
  python3 "$quorlin_root/simulator/modem_sim.py" --store "$store" "$@" \
    >"$outdir/modem.out" 2>"$outdir/modem.err" &
  modem_pids+=($!)
  modem_pty=
  for _ in $(seq 200); do
    modem_pty=$(head -n 1 "$outdir/modem.out")
    [ -n "$modem_pty" ] && return 0
    sleep 0.05
  done
  echo "the simulated modem did not start:" >&2
  cat "$outdir/modem.err" >&2
  return 1
}

# wine_map_port N PTY: COMn of the prefix leads to the terminal PTY.
wine_map_port() { ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"; }

# modem_stop_all: stops every simulated modem modem_start started.
modem_stop_all() {
  local pid
  for pid in "${modem_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${modem_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  modem_pids=()
}
