#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when any is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libqt6svg6 libgl-dev
    libcurl4-openssl-dev ca-certificates
    libpcre2-dev
    libgtest-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev llvm-14
    python3
    xvfb xdotool openbox x11-utils imagemagick fonts-noto-cjk iproute2 time
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
