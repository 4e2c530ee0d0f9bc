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
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja ${TAVOLEN_CMAKE_ARGS:-} >/dev/null
echo "Configured in ./build"
