#!/usr/bin/env bash
# Renders the golden matrix (songs x rates x effect settings) with torqa-cli and
# the real unit over the freepats patch set (PLUGIN/VOKRA/freepats-pat.cfg, the
# GUS patches as the unit's patch loader converts them), and records or checks the SHA-256
# of every WAV file. The digests pin the renderer's output bit for bit, so an
# optimisation that changes one sample fails the check.
#
#   golden.sh --build DIR --write FILE              record every digest into FILE
#   golden.sh --build DIR --check FILE [filters]    re-render and compare with FILE
# Filters (repeatable; default: everything listed in FILE, or the whole matrix):
#   --song NAME   --rate HZ   --setting defaults|off|on
#   -j N          songs rendered at once (default 2)
#
# Settings: "defaults" = reverb and chorus on, no 3D, no band filter, no
# interpolation; "off" = no effect at all; "on" = linear interpolation (a unit
# setting, so it goes into the registry), reverb, chorus, 3D Heavy at depth 800
# and the band filter.
# Exit status: 0 all equal, 1 a digest differs or a render failed, 77 the test
# data (freepats, openttd-openmsx) is not installed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
openmsx=/usr/share/games/openttd/baseset/openmsx

# Song name -> file. The four openmsx songs are real files nobody here wrote.
declare -A song_file=(
  [keep_on_rolling]=$openmsx/keep_on_rolling.mid
  [tttheme2]=$openmsx/tttheme2.mid
  [busy_schedule]=$openmsx/busy_schedule.mid
  [linns_basket]=$openmsx/linns_basket.mid
  [demo]=$root/demo/demo.mid
)
all_songs=(keep_on_rolling tttheme2 busy_schedule linns_basket demo)
all_rates=(22050 44100 96000)
all_settings=(defaults off on)

setting_args() {
  case $1 in
  defaults) echo "--reverb on --chorus on --lpf off --3d 0" ;;
  off) echo "--reverb off --chorus off --lpf off --3d 0" ;;
  on) echo "--reverb on --chorus on --lpf on --3d 800 --3d-engine heavy" ;;
  *) return 1 ;;
  esac
}

# A registry file holding only the unit's settings; the player's key is
# created with its defaults on first use (torqa-cli options override them).
write_registry() {
  local file=$1 interp=$2
  cat >"$file" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics]
"nUseCh"=dword:0000ffff
"nFinalGain"=dword:0000007f
"bOverSample"=dword:0000000$interp
"CFG"="$golden_cfg"

EOF
}

usage() {
  sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

build="" mode="" file="" jobs=2
songs=() rates=() settings=()
while [ $# -gt 0 ]; do
  case $1 in
  --build) build=$2; shift 2 ;;
  --write) mode=write; file=$2; shift 2 ;;
  --check) mode=check; file=$2; shift 2 ;;
  --song) songs+=("$2"); shift 2 ;;
  --rate) rates+=("$2"); shift 2 ;;
  --setting) settings+=("$2"); shift 2 ;;
  -j) jobs=$2; shift 2 ;;
  *) usage ;;
  esac
done
[ -n "$build" ] && [ -n "$mode" ] || usage
[ ${#songs[@]} -gt 0 ] || songs=("${all_songs[@]}")
[ ${#rates[@]} -gt 0 ] || rates=("${all_rates[@]}")
[ ${#settings[@]} -gt 0 ] || settings=("${all_settings[@]}")

cli=$build/torqa-cli
golden_cfg=freepats-pat.cfg
if [ ! -x "$cli" ] || [ ! -f "$build/PLUGIN/VOKRA/$golden_cfg" ]; then
  echo "golden: $cli or its PLUGIN/VOKRA/$golden_cfg is missing (build torqa-cli and the sound set)" >&2
  exit 1
fi
for s in "${songs[@]}"; do
  if [ ! -f "${song_file[$s]:-/nonexistent}" ]; then
    echo "golden: song $s (${song_file[$s]:-unknown}) is not here; skipped" >&2
    exit 77
  fi
done
if [ "$mode" = check ] && [ ! -f "$file" ]; then
  echo "golden: $file has not been recorded yet; skipped" >&2
  exit 77
fi
if [ ! -d /usr/share/midi/freepats ]; then
  echo "golden: freepats is not installed; skipped" >&2
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/torqa-golden.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TORQA_PLUGIN_DIR=$build/PLUGIN

# Renders the selected songs for one rate and setting, $jobs at a time, each
# with a registry file of its own; prints "song rate setting digest".
render_digests() {
  local rate=$1 setting=$2 interp=0 s
  if [ "$setting" = on ]; then interp=1; fi
  local out=$work/out-$rate-$setting
  mkdir -p "$out"
  local running=0
  for s in "${songs[@]}"; do
    write_registry "$out/$s.reg" "$interp"
    # shellcheck disable=SC2046
    (TORQA_REGISTRY=$out/$s.reg "$cli" render "${song_file[$s]}" -o "$out/$s.wav" -r "$rate" \
      $(setting_args "$setting") >"$out/$s.log" 2>&1 && touch "$out/$s.ok") &
    running=$((running + 1))
    if [ $running -ge "$jobs" ]; then
      wait -n || true
      running=$((running - 1))
    fi
  done
  wait || true
  for s in "${songs[@]}"; do
    if [ -f "$out/$s.ok" ] && [ -s "$out/$s.wav" ]; then
      echo "$s $rate $setting $(sha256sum "$out/$s.wav" | cut -d' ' -f1)"
    else
      echo "$s $rate $setting render-failed"
      sed 's/^/  /' "$out/$s.log" >&2
    fi
  done
  rm -rf "$out"
}

results=$work/results.txt
: >"$results"
for rate in "${rates[@]}"; do
  for setting in "${settings[@]}"; do
    setting_args "$setting" >/dev/null || usage
    render_digests "$rate" "$setting" >>"$results"
  done
done

if [ "$mode" = write ]; then
  {
    echo "# SHA-256 of torqa-cli render WAV files: song rate setting digest."
    echo "# Written by tools/golden/golden.sh --write; see that script for the settings."
    sort "$results"
  } >"$file"
  if grep -q render-failed "$results"; then
    echo "golden: some renders failed" >&2
    exit 1
  fi
  echo "golden: $(wc -l <"$results") digests written to $file"
  exit 0
fi

status=0
while read -r s rate setting digest; do
  expected=$(awk -v s="$s" -v r="$rate" -v t="$setting" '$1 == s && $2 == r && $3 == t {print $4}' "$file")
  if [ -z "$expected" ]; then
    echo "NEW   $s $rate $setting $digest (not in $file)"
    status=1
  elif [ "$expected" != "$digest" ]; then
    echo "DIFF  $s $rate $setting: got $digest, expected $expected"
    status=1
  else
    echo "same  $s $rate $setting"
  fi
done <"$results"
if [ $status -ne 0 ]; then
  echo "golden: the output changed. If the change is meant to alter the sound, record" >&2
  echo "        the digests again with tools/golden/golden.sh --build DIR --write $file" >&2
fi
exit $status
