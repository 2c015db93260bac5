#!/usr/bin/env bash
# Installs everything the build, the tools and the tests need on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    cmake ninja-build g++ pkg-config qt6-base-dev libbenchmark-dev \
    clang libclang-rt-14-dev clang-format clang-tidy gcovr \
    xvfb xauth imagemagick socat mbpoll libmodbus-dev fonts-liberation2 \
    desktop-file-utils dpkg-dev file \
    python3 python3-pymodbus python3-serial python3-serial-asyncio \
    >/dev/null
