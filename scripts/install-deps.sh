#!/usr/bin/env bash
# Installs the Debian packages Clearon's build and tests need, when missing.
set -eu
packages=(
  cmake make g++ clang clang-format libclang-rt-14-dev googletest
  mingw-w64 g++-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick
  wixl nsis python3 hostname util-linux time
  nlohmann-json3-dev libcli11-dev
  git binutils osslsigncode openssl
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root (or install these packages): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
