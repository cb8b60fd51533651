#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine
# (run as root; idempotent): compilers, CMake, GoogleTest, the mingw-w64
# cross compilers for 32- and 64-bit Windows, Wine for 32-bit and for 64-bit
# Windows programs (each in a prefix of its own) and a comma-decimal locale
# for the locale tests; a virtual X display, ImageMagick and Wine's own fonts
# for the settings pages' tests and pictures.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine32:i386 wine64 locales libcli11-dev libdtl-dev nlohmann-json3-dev libbenchmark-dev libinih-dev libsimpleini-dev
  qemu-user-static binfmt-support python3
  llvm-14  # llvm-pdbutil-14: the release package's PDB check
  xvfb imagemagick fonts-wine
)

# shellcheck source=apt.sh
. "$(dirname "$0")/apt.sh"

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "setup: installing ${missing[*]:-(package lists only)}"
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# A comma-decimal locale for the tests that prove numbers ignore the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# Wine for the 32-bit Windows programs; its environment goes to build/wine.env
# (scripts/wine-env.sh reads it).
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/wine-setup.sh" --env-file "$top/build/wine.env" >/dev/null
# The 64-bit Wine for the 64-bit programs: build/wine64.env
# (scripts/wine64-env.sh reads it).
bash "$top/scripts/wine64-setup.sh" --env-file "$top/build/wine64.env" >/dev/null
