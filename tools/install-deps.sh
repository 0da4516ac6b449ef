#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing; given
# package names, those instead.
set -euo pipefail

packages=(cmake make g++ libgtest-dev libgmock-dev qt6-base-dev libbenchmark-dev time clang libclang-rt-14-dev
  dpkg-dev file)
[[ $# -gt 0 ]] && packages=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
