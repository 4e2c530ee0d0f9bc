#!/usr/bin/env bash
# Installs what Tavolen needs from Debian's packages (only what is missing, so
# a second run is quick) and configures the build in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config          # build
  libhidapi-dev libsdl2-dev                 # the program: remote and window
  libgtest-dev libx11-dev                   # tests and their X helper
  xvfb xdotool x11-apps                     # end-to-end tests: display, keys, xwd
  xfonts-base                               # core X fonts, for the error box
  man-db                                    # the package test renders the manual
  lintian                                   # the package test checks the .deb against Debian policy
  qemu-system-x86 busybox-static kmod udev  # the kernel tier: Debian's kernel in a virtual machine
)

scripts/install-missing.sh "${packages[@]}"

cmake -S . -B build -G Ninja ${TAVOLEN_CMAKE_ARGS:-} >/dev/null
echo "Configured in ./build"
