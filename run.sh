#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Torqa and renders SONG (default: the
# demo song) with the player's saved settings to a WAV file of the same name in
# the current directory, printing where the file is and how fast it rendered.
set -euo pipefail
song="$(realpath -m -- "${1:-$(dirname "$0")/demo/demo.mid}")"
name="$(basename -- "$song")"
out="$PWD/${name%.*}.wav"
cd "$(dirname "$0")"
source scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
exec build/torqa-cli render "$song" -o "$out"
