#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Torqa and plays SONG (default: the
# demo song) through the sound device with the player's saved settings. Where no
# sound device opens (as in CI) it says so and renders SONG instead to a WAV file
# of the same name in the current directory, printing where the file is and how
# fast it rendered.
set -euo pipefail
song="$(realpath -m -- "${1:-$(dirname "$0")/demo/demo.mid}")"
name="$(basename -- "$song")"
out="$PWD/${name%.*}.wav"
cd "$(dirname "$0")"
source scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
# torqa-cli play exits with 69 exactly when there is no sound device or it does not open.
status=0
build/torqa-cli play "$song" || status=$?
[ "$status" -eq 69 ] || exit "$status"
echo "run.sh: no sound device to play on; rendering to a file instead" >&2
exec build/torqa-cli render "$song" -o "$out"
