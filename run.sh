#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Torqa and, on a desktop, opens the
# player's window with SONG (default: the demo song) loaded; without a display
# it plays SONG through the sound device with the player's saved settings. Where no
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
# With a display the window program starts with SONG loaded (Space plays it).
# torqa and torqa-cli play exit with 69 exactly when there is no display, or
# no sound device, or it does not open.
status=69
if [ -n "${DISPLAY:-}" ]; then
  status=0
  build/torqa "$song" || status=$?
fi
[ "$status" -eq 69 ] || exit "$status"
status=0
build/torqa-cli play "$song" || status=$?
[ "$status" -eq 69 ] || exit "$status"
echo "run.sh: no sound device to play on; rendering to a file instead" >&2
exec build/torqa-cli render "$song" -o "$out"
