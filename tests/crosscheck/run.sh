#!/bin/sh
# Cross-checks `quorlin decode` against Gammu's PDU decoder on a few hundred generated PDUs, then
# `quorlin send --dry-run` on a few hundred texts, each PDU read back by Gammu, by quorlin decode
# and against simulator/pdu_builder.py. Builds nothing: give it the quorlin binary to check, e.g.
#   tests/crosscheck/run.sh build/linux/cli/quorlin [--seed N] [--count N] [--show N]
# Installs python3-gammu with apt when the Debian interpreter cannot import it.
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 QUORLIN_BINARY [--seed N] [--count N] [--show N]" >&2
  exit 2
fi
quorlin=$1
shift
if [ ! -x "$quorlin" ]; then
  echo "$0: $quorlin is not an executable file" >&2
  exit 2
fi

python=/usr/bin/python3  # the Debian interpreter, which sees the python3-gammu package
if ! "$python" -c 'import gammu' 2>/dev/null; then
  sudo=
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y python3-gammu || { $sudo apt-get update && $sudo apt-get install -y python3-gammu; }
fi

status=0
"$python" "$(dirname "$0")/crosscheck.py" "$quorlin" "$@" || status=1
echo
"$python" "$(dirname "$0")/send_crosscheck.py" "$quorlin" "$@" || status=1
exit $status
