#!/usr/bin/env bash
# Builds the Linux programs for arm64 (the Raspberry Pi's Raspberry Pi OS
# 64-bit) here and runs the whole Linux test suite under qemu-user:
# installs the Debian packages that are missing (the cross compiler, qemu-user
# and the arm64 libraries, adding the arm64 architecture to dpkg first),
# builds build-arm64, registers qemu-aarch64 with the kernel so that arm64
# programs started by other programs run too (the end-to-end tests, the
# package test, the benchmark's children), and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "Adding the arm64 architecture to dpkg"
  "${sudo[@]}" dpkg --add-architecture arm64
  "${sudo[@]}" apt-get update -qq
fi
packages=(
  cmake ninja-build pkg-config dpkg-dev      # build; dpkg-shlibdeps for the package's Depends
  g++-aarch64-linux-gnu                      # the cross compiler
  qemu-user qemu-user-binfmt                 # running the programs, and their kernel registration
  libsdl2-dev:arm64 libhidapi-dev:arm64      # the program: window and remote
  libx11-dev:arm64 libgtest-dev:arm64        # its X calls, and the tests
  xvfb xdotool x11-apps xfonts-base          # the displays the tests run on (the host's: X is a socket)
  man-db lintian                             # the package test
)
scripts/install-missing.sh "${packages[@]}"

# Registers qemu-aarch64 for arm64 programs unless it is already; says in one
# line why not when it may not. Registered without the O flag, with which the
# kernel opens the program for qemu and hands it the descriptor at the lowest
# free number: a program started with its standard input closed (as a test
# starts one) would find descriptor 0 taken.
RegisterEmulator() {
  local misc=/proc/sys/fs/binfmt_misc conf=/usr/lib/binfmt.d/qemu-aarch64.conf
  local entry=$misc/qemu-aarch64
  if [ -e "$entry" ] && ! grep -q '^flags:.*O' "$entry"; then return 0; fi
  if ((${#sudo[@]})) && ! sudo -n true 2>/dev/null; then
    echo "arm64: cannot register qemu-aarch64 with the kernel: not root and no sudo without a password" >&2
    return 1
  fi
  if ! mountpoint -q "$misc" && ! "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null; then
    echo "arm64: cannot register qemu-aarch64 with the kernel: binfmt_misc cannot be mounted here" >&2
    return 1
  fi
  local line flags
  line=$(cat "$conf")
  flags=${line##*:}
  line="${line%:*}:${flags//O/}"
  if [ -e "$entry" ] && ! "${sudo[@]}" sh -c "echo -1 >'$entry'" 2>/dev/null; then
    echo "arm64: cannot register qemu-aarch64 with the kernel: its registration with the O flag cannot be removed" >&2
    return 1
  fi
  if ! printf '%s' "$line" | "${sudo[@]}" tee "$misc/register" >/dev/null 2>&1; then
    echo "arm64: cannot register qemu-aarch64 with the kernel: $misc/register refused $conf" >&2
    return 1
  fi
}

# The programs take the arm64 loader and libraries of multiarch, which come
# from one build of the C library. A prefix such as /usr/aarch64-linux-gnu
# (the cross compiler's) would give them its own loader with the multiarch
# libc.so.6 of another build: their private data disagree, and the first
# thread a program starts spins for ever inside pthread_create.
unset QEMU_LD_PREFIX

cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake >/dev/null
cmake --build build-arm64 -j2
if RegisterEmulator; then
  ctest --test-dir build-arm64 --output-on-failure -j2
else
  # The tests that start arm64 programs cannot run; the others still tell
  # something, but the run is not a pass.
  echo "arm64: running only the tests that start no program" >&2
  status=0
  ctest --test-dir build-arm64 --output-on-failure -j2 -LE 'e2e|bench' -E PackageInstallsAndRuns || status=$?
  echo "arm64: not every test ran (the end-to-end, package and benchmark tests start arm64 programs," \
       "which needs the registration); those that ran ended with $status" >&2
  exit 1
fi
