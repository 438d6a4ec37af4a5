#!/usr/bin/env bash
# Listening check: renders songs with Torqa (one or more of its sound sets),
# TiMidity++ (freepats only) and FluidSynth (FluidR3 GM) at 44100 Hz and
# prints, per song and per instrument, what a careful listener would compare:
# level and clipping, drum-to-melodic balance, drum decays, releases, energy
# above 6 kHz of held notes, pitch of isolated notes. A tool for judging, not
# a test: it prints numbers and no verdicts.
#
#   listen.sh [--build DIR] [--cfg NAME]... [--out DIR] [-j N] [--no-peers]
#             [--no-balance] [SONG.mid]...
#
# --cfg NAME     a sound set NAME.cfg in DIR/PLUGIN/VOKRA (repeatable; default
#                VOKRA and freepats-pat); its renders are named torqa-NAME
# --no-peers     render Torqa only (peer renders already in --out are reused)
# --no-balance   skip the drum-only and melodic-only renders of every song
# Songs default to eight openmsx songs. An isolated-notes song (listen.py
# notes) is always rendered, with effects off; songs use default effects.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
openmsx=/usr/share/games/openttd/baseset/openmsx
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
freepats_cfg=/etc/timidity/freepats.cfg

py=/usr/bin/python3 # Debian's, beside python3-numpy
build=$root/build out="" jobs=2 peers=1 balance=1
cfgs=() songs=()
while [ $# -gt 0 ]; do
  case $1 in
  --build) build=$2; shift 2 ;;
  --cfg) cfgs+=("$2"); shift 2 ;;
  --out) out=$2; shift 2 ;;
  -j) jobs=$2; shift 2 ;;
  --no-peers) peers=0; shift ;;
  --no-balance) balance=0; shift ;;
  -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) songs+=("$1"); shift ;;
  esac
done
[ ${#cfgs[@]} -gt 0 ] || cfgs=(VOKRA freepats-pat)
if [ ${#songs[@]} -eq 0 ]; then
  for s in keep_on_rolling tttheme2 busy_schedule linns_basket wood_whistles \
    harp_harmony city_blues_redfarn the_fast_route; do
    songs+=("$openmsx/$s.mid")
  done
fi
out=${out:-$build/listen}
mkdir -p "$out/mid"
build=$(cd "$build" && pwd)
out=$(cd "$out" && pwd)

[ -x "$build/torqa-cli" ] || { echo "listen: $build/torqa-cli is missing" >&2; exit 1; }
if [ $peers -eq 1 ]; then
  for tool in timidity fluidsynth; do
    command -v $tool >/dev/null || { echo "listen: $tool is not installed (scripts/deps.sh)" >&2; exit 1; }
  done
  [ -f "$sf2" ] || { echo "listen: $sf2 is missing (fluid-soundfont-gm)" >&2; exit 1; }
fi

# Songs to render: name, file, effects (on/off).
jobs_file=$out/jobs.txt
: >"$jobs_file"
"$py" "$here/listen.py" notes "$out/mid/notes.mid"
echo "notes $out/mid/notes.mid off" >>"$jobs_file"
for s in "${songs[@]}"; do
  name=$(basename "$s" .mid)
  cp "$s" "$out/mid/$name.mid"
  echo "$name $out/mid/$name.mid on" >>"$jobs_file"
  if [ $balance -eq 1 ]; then
    "$py" "$here/listen.py" split "$s" "$out/mid/$name.drums.mid" "$out/mid/$name.melodic.mid"
    echo "$name.drums $out/mid/$name.drums.mid on" >>"$jobs_file"
    echo "$name.melodic $out/mid/$name.melodic.mid on" >>"$jobs_file"
  fi
done

# TiMidity++ reads /etc/timidity/timidity.cfg before any -c file, and Debian's
# loads FluidR3 there; an empty file bound over it in a private mount namespace
# leaves freepats alone.
empty_cfg=$out/empty-timidity.cfg
: >"$empty_cfg"

render_one() { # renderer name file effects
  local r=$1 name=$2 file=$3 fx=$4 wav=$out/$2--$1.wav
  case $r in
  torqa-*)
    local reg=$out/$name--$r.reg
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_LOCAL_MACHINE\Software\QUIRN-PLUGIN\VOKRAUNIT\Statics]' \
      '"nUseCh"=dword:0000ffff' '"nFinalGain"=dword:0000007f' '"bOverSample"=dword:00000000' \
      "\"CFG\"=\"${r#torqa-}.cfg\"" '' >"$reg"
    TORQA_REGISTRY=$reg TORQA_PLUGIN_DIR=$build/PLUGIN "$build/torqa-cli" render "$file" \
      -o "$wav" -r 44100 --reverb "$fx" --chorus "$fx" --lpf off --3d 0 >/dev/null 2>&1
    ;;
  timidity)
    local efx=()
    [ "$fx" = on ] || efx=(-EFreverb=d -EFchorus=d)
    unshare -m sh -c 'mount --bind "$0" /etc/timidity/timidity.cfg && exec "$@"' "$empty_cfg" \
      timidity -c "$freepats_cfg" -Ow -s 44100 "${efx[@]}" -o "$wav" "$file" >/dev/null 2>&1
    ;;
  fluidsynth)
    local efx=()
    [ "$fx" = on ] || efx=(-R 0 -C 0)
    fluidsynth -ni -q "${efx[@]}" -r 44100 -T wav -O s16 -F "$wav" "$sf2" "$file" >/dev/null 2>&1
    ;;
  esac || echo "listen: $r failed on $name" >&2
}
export -f render_one
export out build empty_cfg freepats_cfg sf2

renderers=()
for c in "${cfgs[@]}"; do renderers+=("torqa-$c"); done
peer_names=(timidity fluidsynth)
tasks=$out/tasks.txt
: >"$tasks"
while read -r name file fx; do
  for r in "${renderers[@]}"; do echo "$r $name $file $fx" >>"$tasks"; done
  if [ $peers -eq 1 ]; then
    for r in "${peer_names[@]}"; do echo "$r $name $file $fx" >>"$tasks"; done
  fi
done <"$jobs_file"
xargs -P "$jobs" -L 1 bash -c 'render_one "$@"' _ <"$tasks"

names=("${renderers[@]}")
for r in "${peer_names[@]}"; do
  [ -f "$out/notes--$r.wav" ] && names+=("$r")
done
"$py" "$here/listen.py" report "$out" "${names[@]}"
