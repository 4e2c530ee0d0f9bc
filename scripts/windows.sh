#!/usr/bin/env bash
# Builds the Windows programs here and runs their tests under Wine:
# installs the Debian packages that are missing (cross compiler, Wine, NSIS,
# and what the Linux build needs for the end-to-end harness), builds
# build-windows/tavolen.exe and build-windows/tavolen-sim.exe, runs the
# Windows tests (the kernel tier's Windows rows among them, with the Linux
# build's virtual remote), and ends the Wine session it used.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config zip       # build, and CPack's ZIP
  g++-mingw-w64-x86-64-posix                 # the cross compiler, posix threads
  wine wine64                                # running the programs
  nsis                                       # the installer
  libgtest-dev googletest libx11-dev         # tests, their X helper, gtest's sources
  xvfb xdotool x11-apps xfonts-base          # the displays the tests run on
)
scripts/install-missing.sh "${packages[@]}"

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
trap 'scripts/wine-session.sh stop build-windows' EXIT
# The build runs the test programs under Wine to list their tests.
scripts/wine-session.sh start build-windows
cmake --build build-windows -j2
# The kernel tier's Windows rows play the remote through a virtual machine's
# kernel with the Linux build's tavolen-virtual-remote.
[ -f build/build.ninja ] || ./scripts/setup.sh
cmake --build build --target tavolen-virtual-remote
ctest --test-dir build-windows --output-on-failure -j2 --timeout 300
