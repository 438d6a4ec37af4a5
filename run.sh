#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Torqa and runs the main job on SONG
# (default: the demo song).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
song="${1:-demo/demo.mid}"
[ -n "${1:-}" ] || [ -f "$song" ] || song=/usr/share/games/openttd/baseset/openmsx/chemistry_lab.mid; exec build/torqa-cli info "$song"
