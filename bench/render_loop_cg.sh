#!/usr/bin/env bash
# Instructions of the render loop (RenderRecordBlock and all it calls, units
# included, loading not counted) under callgrind, one figure per setting:
# stable on a busy machine, so two builds compare within a few parts in a
# million.
#
#   bench/render_loop_cg.sh BUILD_DIR [SONG.mid] [RATE]
# Settings: defaults (reverb, chorus), off (no effect), 3d (reverb, chorus,
# 3D Heavy at depth 800), on (3d with interpolation and band filter).
set -euo pipefail

build=${1:?build directory}
song=${2:-$(cd "$(dirname "$0")/.." && pwd)/demo/demo.mid}
rate=${3:-44100}
cli=$build/torqa-cli
command -v valgrind >/dev/null || { echo "render_loop_cg: valgrind is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/torqa-cg.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TORQA_PLUGIN_DIR=$build/PLUGIN

for setting in defaults off 3d on; do
  interp=0 args="--reverb on --chorus on --lpf off --3d 0"
  case $setting in
  off) args="--reverb off --chorus off --lpf off --3d 0" ;;
  3d) args="--reverb on --chorus on --lpf off --3d 800 --3d-engine heavy" ;;
  on) interp=1 args="--reverb on --chorus on --lpf on --3d 800 --3d-engine heavy" ;;
  esac
  export TORQA_REGISTRY=$work/$setting.reg
  printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\QUIRN-PLUGIN\VOKRAUNIT\Statics]' \
    '"nUseCh"=dword:0000ffff' '"nFinalGain"=dword:0000007f' \
    "\"bOverSample\"=dword:0000000$interp" '"CFG"="VOKRA.cfg"' >"$TORQA_REGISTRY"
  # torqa-cli renders in a forked child: one output file per process.
  # shellcheck disable=SC2086
  valgrind --tool=callgrind --toggle-collect='RenderRecordBlock*' \
    --callgrind-out-file="$work/cg-$setting.%p" "$cli" render "$song" -o "$work/out.wav" \
    -r "$rate" $args >/dev/null 2>"$work/cg-$setting.log"
  ir=$(cat "$work"/cg-"$setting".[0-9]* | awk '/^(summary|totals):/ { if ($2 > m) m = $2 } END { printf "%.0f", m }')
  printf '%-9s %14d instructions\n' "$setting" "$ir"
done
