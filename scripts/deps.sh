#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the simulator need (only what is missing).
set -euo pipefail
pkgs=(cmake g++ clang-14 libclang-rt-14-dev make libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
      nlohmann-json3-dev libfftw3-dev dosfstools mtools python3-jsonschema
      gcc-arm-none-eabi libnewlib-arm-none-eabi qemu-system-arm)
need=()
for pkg in "${pkgs[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
echo "installing: ${need[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
