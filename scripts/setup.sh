#!/usr/bin/env bash
# Installs every Debian package that building, running and testing QuibDemo
# needs. The only step that needs root: run it once as root (or with sudo);
# afterwards it only checks, which any user may do.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev
  wine wine32:i386
  xvfb xauth x11-utils imagemagick
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ] && [ -z "${need_i386:-}" ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: packages are missing: ${missing[*]:-(none; the i386 architecture is not enabled)}" >&2
  echo "setup: installing them needs root; run once:  sudo $(readlink -f "$0")" >&2
  exit 1
fi

if [ -n "${need_i386:-}" ]; then
  dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]:-(package lists only)}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
