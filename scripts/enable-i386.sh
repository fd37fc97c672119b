#!/usr/bin/env bash
# Lets this machine start 32-bit x86 Linux programs (and so Debian's wine32 and 32-bit Windows
# programs under Wine) where the kernel cannot run them itself (no IA32 emulation: "Exec format
# error"): user-mode emulation with qemu-i386-static, registered with binfmt_misc.
#
#   - 32-bit programs already start (natively, or through this handler): nothing to do, exit 0;
#   - otherwise: installs qemu-user-static (apt), mounts binfmt_misc if needed, registers the
#     handler "qemu-i386" for i386 ELF files with the flags F (works in every mount namespace) and
#     P (argv[0] kept), and checks that a 32-bit program starts; exit 1 if anything fails.
#
# The handler is a small wrapper around qemu-i386-static that limits the emulated address space
# to 3 GiB (-R 0xc0000000), as under a 32-bit kernel. With qemu's default (almost 4 GiB) Wine's
# 32-bit loader, which Debian ships without its preloader, cannot reserve its upper memory area
# and stops with "failed to map the shared user data: c0000018".
#
# Emulation is slow: measured here, creating a prefix with "wineboot -i" takes about 145 s and
# every 32-bit Windows process about 45-85 s to start (regsvr32, cscript, cmd), against about
# 1 s natively; 64-bit programs are not affected.
#
# Usage (as root): scripts/enable-i386.sh            Undo: scripts/enable-i386.sh --remove
set -euo pipefail

name=qemu-i386
wrapper=/usr/local/libexec/qemu-i386-3g
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects (ET_EXEC, ET_DYN), as qemu's own binfmt table has them.
magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

say() { printf 'enable-i386: %s\n' "$*"; }
die() { printf 'enable-i386: %s\n' "$*" >&2; exit 1; }

# A 32-bit program to try: the dynamic loader of libc6:i386 (wine32 depends on it), or Wine's
# 32-bit loader.
probe=
for candidate in /lib/ld-linux.so.2 /usr/lib/wine/wine; do
  if [ -f "$candidate" ]; then probe=$candidate; break; fi
done

starts_32_bit() {
  [ -n "$probe" ] || return 1
  "$probe" --version >/dev/null 2>&1
}

if [ "${1:-}" = --remove ]; then
  [ "$(id -u)" -eq 0 ] || die "must run as root"
  if [ -e "$binfmt/$name" ]; then
    echo -1 >"$binfmt/$name"
    say "handler $name removed"
  else
    say "handler $name is not registered"
  fi
  exit 0
fi

if [ -e "$binfmt/$name" ] && grep -qx "interpreter $wrapper" "$binfmt/$name" &&
   grep -qx enabled "$binfmt/$name"; then
  if [ -z "$probe" ] || starts_32_bit; then
    say "32-bit programs already start through qemu-i386 (handler $name is registered)"
    exit 0
  fi
fi

if [ -z "$probe" ]; then
  say "no 32-bit program installed to try (neither /lib/ld-linux.so.2 nor /usr/lib/wine/wine);"
  say "the handler is registered anyway, but cannot be checked here"
elif starts_32_bit; then
  if [ -e "$binfmt/$name" ]; then
    # Another i386 handler under our name (qemu's default address space): Wine fails under it.
    say "replacing the handler $name, whose qemu lacks the 3 GiB address-space limit Wine needs"
  else
    say "32-bit programs already start natively; nothing to do"
    exit 0
  fi
fi

[ "$(id -u)" -eq 0 ] || die "must run as root to enable 32-bit programs"

if [ ! -x "$qemu" ]; then
  say "installing qemu-user-static"
  DEBIAN_FRONTEND=noninteractive apt-get install -y qemu-user-static >/dev/null ||
    die "apt-get install qemu-user-static failed"
  [ -x "$qemu" ] || die "qemu-user-static is installed but $qemu is missing"
fi

if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    die "cannot mount binfmt_misc on $binfmt (no CONFIG_BINFMT_MISC, or not allowed here)"
fi
[ -w "$binfmt/register" ] || die "$binfmt/register is not writable"
if [ "$(cat "$binfmt/status")" != enabled ]; then
  echo 1 >"$binfmt/status" || die "binfmt_misc is disabled and cannot be enabled"
fi

# With the P flag the kernel passes: wrapper, the program's path, the program's argv[0], its
# arguments.
mkdir -p "$(dirname "$wrapper")"
cat >"$wrapper.tmp" <<EOF
#!/bin/sh
# binfmt_misc handler for i386 ELF programs, registered by scripts/enable-i386.sh.
path=\$1 argv0=\$2
shift 2
exec $qemu -R 0xc0000000 -0 "\$argv0" "\$path" "\$@"
EOF
chmod 755 "$wrapper.tmp"
mv -f "$wrapper.tmp" "$wrapper"

if [ -e "$binfmt/$name" ]; then echo -1 >"$binfmt/$name"; fi
printf ':%s:M::%s:%s:%s:FP\n' "$name" "$magic" "$mask" "$wrapper" >"$binfmt/register" ||
  die "registering the binfmt_misc handler $name failed"

if [ -z "$probe" ]; then
  say "handler $name registered (-> $wrapper); install wine32:i386 to use it"
  exit 0
fi
if ! starts_32_bit; then
  echo -1 >"$binfmt/$name" 2>/dev/null || true
  die "a 32-bit program ($probe) still does not start under qemu-i386; handler removed"
fi
say "32-bit programs now start through qemu-i386 ($probe --version works; handler $name -> $wrapper)"
say "note: emulated, so each 32-bit Windows program under Wine takes about a minute to start"
