#!/usr/bin/env bash
# Installs every Debian package that building, running and testing QuibDemo
# needs. The only step that needs root: run it once as root (or with sudo);
# afterwards it only checks, which any user may do.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev
  wine wine32:i386 fonts-wine fonts-dejavu-core fonts-liberation2
  xvfb xauth x11-utils imagemagick
)

# Wine runs QuibDemo.exe with a 32-bit x86 loader. Where the kernel runs no
# 32-bit x86 programs (some virtual machines have IA-32 emulation turned off),
# QEMU's user-mode emulator runs them instead, registered for their ELF
# header, and 64-bit Wine runs Wine's own services natively.
#
# QEMU 7.2, Debian 12's own, does not honour MAP_FIXED_NOREPLACE: Wine's
# 32-bit loader, which reserves the address space with it, then probes all
# 4 GiB in 64 KiB steps, and every start of a 32-bit program costs about a
# minute of processor time. QEMU 10 starts one in about a second; on Debian 12
# it comes from Debian's backports, which apt uses only for the packages named
# from there.
binfmt=/proc/sys/fs/binfmt_misc
qemu_fast=10

runs_i386() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
      printf '%s\n' "$p"
  done
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: $1" >&2
    echo "setup: that needs root; run once:  sudo $(readlink -f "$0")" >&2
    exit 1
  fi
}

install() {
  local missing
  mapfile -t missing < <(missing_of "$@")
  [ "${#missing[@]}" -gt 0 ] || return 0
  need_root "packages are missing: ${missing[*]}"
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "the i386 architecture is not enabled for packages"
  dpkg --add-architecture i386
fi
install "${packages[@]}"

qemu_version() {
  qemu-i386-static --version 2>/dev/null | sed -n '1s/^.* version \([0-9]*\)\..*$/\1/p'
}

# QEMU for 32-bit x86 programs, in a version that starts them quickly where
# the system has one; true when it installed one.
install_qemu() {
  local version release list=/etc/apt/sources.list.d/bookworm-backports.list
  version=$(qemu_version)
  [ "${version:-0}" -lt "$qemu_fast" ] || return 1
  release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  if [ "$release" = bookworm ] && [ "$(id -u)" -eq 0 ]; then
    if ! apt-cache policy | grep -q 'bookworm-backports'; then
      echo "setup: adding Debian's backports ($list), for QEMU $qemu_fast alone" >&2
      echo 'deb http://deb.debian.org/debian bookworm-backports main' >"$list"
    fi
    echo "setup: installing QEMU $qemu_fast from Debian's backports" >&2
    export DEBIAN_FRONTEND=noninteractive
    if apt-get update -qq >/dev/null &&
      apt-get install -y -qq --no-install-recommends qemu-user-static/bookworm-backports \
        qemu-user/bookworm-backports qemu-user-binfmt/bookworm-backports >/dev/null; then
      return 0
    fi
    echo "setup: QEMU from Debian's backports could not be installed" >&2
  elif [ "$release" = bookworm ] && [ -n "$version" ]; then
    echo "setup: QEMU $version starts each 32-bit program in about a minute, QEMU $qemu_fast" \
      "from Debian's backports in a second; to install it, run once:  sudo $(readlink -f "$0")" >&2
    return 1
  fi
  # The system's own QEMU.
  local installed=1
  if [ -z "$version" ]; then
    install qemu-user-static
    version=$(qemu_version)
    installed=0
  fi
  [ "${version:-0}" -ge "$qemu_fast" ] ||
    echo "setup: with QEMU $version each start of a 32-bit program may take about a minute" >&2
  return $installed
}

# Where 32-bit programs run through QEMU: a kernel without IA-32 emulation, or
# a machine where QEMU was registered for them on purpose.
if ! runs_i386 || [ -e "$binfmt/qemu-i386" ]; then
  install wine64
  # The registration is lost when the machine restarts. It holds the
  # emulator's file open, so a new QEMU needs a new registration.
  if install_qemu && [ -e "$binfmt/qemu-i386" ]; then
    echo -1 >"$binfmt/qemu-i386"
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    [ "$(head -n 1 "$binfmt/qemu-i386")" = enabled ] || {
      need_root "QEMU's registration for 32-bit x86 programs is turned off"
      echo 1 >"$binfmt/qemu-i386"
    }
  else
    need_root "this kernel runs no 32-bit x86 programs; QEMU must be registered for them"
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
  fi
  runs_i386 || { echo "setup: 32-bit x86 programs do not run, even with QEMU" >&2; exit 1; }
fi

# Where 32-bit programs run only emulated, the scripts run the Windows tests
# and the demo on the 64-bit build of the same sources (quib_windows_preset in
# scripts/wine-env.sh), which 64-bit Wine runs natively.
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"
if [ "$(quib_windows_preset)" = win64 ]; then
  install g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev wine64
fi
