#!/usr/bin/env bash
# Installs the Debian packages quorvel needs to build and test, where they are missing.
set -euo pipefail

packages=(g++ make cmake zlib1g-dev libgtest-dev libbenchmark-dev clang libclang-rt-14-dev cc65 libgme-dev libfftw3-dev libisal-dev
          mednafen xvfb ffmpeg)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
