#!/usr/bin/env bash
# Installs, with apt-get, whatever the builds need and the machine lacks. Usage: deps.sh native|all
set -euo pipefail

packages=(g++ cmake ninja-build make)
if [ "${1:-native}" = all ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev clang libclang-rt-dev
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 wine64 python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages and not root: install them with apt-get first." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
