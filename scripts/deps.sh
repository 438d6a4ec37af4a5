#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the default sound set
# need, only those that are missing. Sourced by run.sh and test.sh.
set -euo pipefail

TORQA_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libbenchmark-dev
  libfltk1.3-dev libsdl2-dev
  freepats openttd-openmsx midicsv sox libsoxr-dev
  timidity fluidsynth fluid-soundfont-gm timgm6mb-soundfont python3-numpy
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-utils fonts-ipafont-mincho fonts-ipafont-gothic imagemagick
  desktop-file-utils lintian man-db dpkg-dev file
)

torqa_install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

torqa_install_missing "${TORQA_PACKAGES[@]}"
