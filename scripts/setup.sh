#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need. Idempotent and quick
# when everything is there; works as root or through sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev python3 python3-pil zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool x11-utils imagemagick pngcheck unzip zip
  libcapstone-dev libzydis-dev libdistorm3-dev pngquant
  python3-aiosmtpd dnsmasq-base tinyproxy-bin
  cups-daemon cups-client printer-driver-cups-pdf poppler-utils libcups2:i386
)
# The delivery tests' CUPS scheduler prints to PDF through cups-pdf, read back with pdftotext;
# 32-bit Wine reaches it through its own libcups2:i386.
# wine32 brings 32-bit Wine, which runs the shipped program where the kernel executes 32-bit code,
# and Wine's i386 system DLLs: real 32-bit machine code that the decoder tests read everywhere.

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
