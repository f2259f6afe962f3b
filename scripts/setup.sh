#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine. Run as root; safe to
# run again. Besides the native and mingw-w64 toolchains and Wine, it sets up the 32-bit
# Windows target: wine32 runs under i386 user-mode emulation (qemu-i386-static through
# binfmt_misc), since these kernels execute no 32-bit code natively.
set -euo pipefail

die() { echo "setup: $*" >&2; exit 1; }

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libz-mingw-w64-dev
  wine wine64 xvfb xdotool imagemagick
  python3 locales fonts-wqy-microhei
  qemu-user-static binfmt-support wine32:i386
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

if ((${#missing[@]})); then
  [ "$(id -u)" = 0 ] || die "missing packages (${missing[*]}); run this script as root"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# i386 user-mode emulation: binfmt_misc mounted, the qemu-i386 handler registered with
# flag F (the interpreter is opened at registration, so it works inside any mount namespace).
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  [ "$(id -u)" = 0 ] || die "binfmt_misc is not mounted; run this script as root"
  mount -t binfmt_misc binfmt_misc "$binfmt" || die "cannot mount binfmt_misc at $binfmt"
fi
if [ ! -e "$binfmt/qemu-i386" ] || ! grep -q '^flags:.*F' "$binfmt/qemu-i386"; then
  [ "$(id -u)" = 0 ] || die "the qemu-i386 binfmt handler is missing; run this script as root"
  [ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$magic" "$mask" > "$binfmt/register" \
    || die "the kernel refused to register the qemu-i386 binfmt handler"
fi
grep -q '^enabled' "$binfmt/qemu-i386" || die "the qemu-i386 binfmt handler is not enabled"

# The Japanese locale the end-to-end tests run the installer under (Wine takes the user's
# locale and ANSI code page 932 from it).
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  [ "$(id -u)" = 0 ] || die "the ja_JP.UTF-8 locale is missing; run this script as root"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || die "cannot generate the ja_JP.UTF-8 locale"
fi
