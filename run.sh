#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Torqa and renders SONG (default: the
# demo song) to a WAV file with the player's saved settings, printing where the
# file is and how fast it rendered.
set -euo pipefail
song="$(realpath -m -- "${1:-$(dirname "$0")/demo/demo.mid}")"
cd "$(dirname "$0")"
source scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
# Beside the song, or in the current directory when the song's is read-only.
out="${song%.*}.wav"
[ -w "$(dirname "$song")" ] || out="$PWD/$(basename "${song%.*}").wav"
exec build/torqa-cli render "$song" -o "$out"
