#!/usr/bin/env bash
# Installs whatever the build, the tests, the run command and the Debian
# package (making it and checking it) need and this machine does not have
# yet (Debian 12 packages only).
set -euo pipefail

# libindi-dev, libnova-dev (its headers include libnova's) and indi-bin for
# the INDI driver and its end-to-end test; iproute2 (ip) for that test's
# loopback-only network namespace; stress-ng loads the machine for
# scripts/stress-tests.sh; libsdl2-dev reads game controllers. python3-ephem
# is an independent ephemeris the tests check the places of the date against
# (tests only; the program does not use it).
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev
  libindi-dev libnova-dev indi-bin iproute2
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-utils
  libx11-dev libxtst-dev
  dpkg-dev file lintian desktop-file-utils appstream
  liberfa-dev indi-bin iproute2 util-linux
  libeigen3-dev
  libsdl2-dev
  stress-ng
  python3 python3-ephem
)

"$(dirname "${BASH_SOURCE[0]}")/install-packages.sh" "${packages[@]}"
