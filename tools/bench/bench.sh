#!/usr/bin/env bash
# Render benchmark: installs what it needs, builds Release, renders the openmsx
# songs, the demo and the 256-voice stress song at 44100 Hz to WAV with
# torqa-cli (four settings), TiMidity++ (freepats only; defaults, and linear
# interpolation without effects) and FluidSynth (FluidR3 GM, defaults), round
# by round, and prints the medians, the speed ratios and peak memory. Then
# counts instructions per rendered second with callgrind, which is stable on a
# busy machine.
#
#   tools/bench/bench.sh [--build DIR] [--no-build] [--runs N] [--songs LIST]
#                        [--no-peers] [--no-callgrind] [--callgrind-song NAME]
#                        [--callgrind-row ROW]
#     --build DIR   build directory (default build-bench); with --no-build an
#                   existing build (torqa-cli and PLUGIN/ with the sound set)
#     --runs N      rounds (default 5); every figure is the median of N
#     --songs LIST  comma-separated subset of the song names below
#     --no-peers    Torqa only (the ratio columns stay empty)
#     --set NAME    Torqa's sound set in PLUGIN/VOKRA (default freepats.cfg: the
#                   samples TiMidity++ plays, converted; VOKRA.cfg is FluidR3)
#     --callgrind-row ROW  the setting callgrind counts (default def)
# Torqa settings: def = reverb+chorus; off = no effects; interp = interpolation,
# no effects; on = interpolation, reverb, chorus, 3D Heavy depth 800, band
# filter. One "BENCH song=... key=value ..." line per song (and one for the
# geometric means) at the end, for comparing commits.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

build=build-bench do_build=1 runs=5 do_callgrind=1 cg_song=demo cg_row=def peers=1 sound_set=freepats.cfg
songs=keep_on_rolling,tttheme2,busy_schedule,linns_basket,demo,stress
while [ $# -gt 0 ]; do
  case $1 in
  --build) build=$2; shift 2 ;;
  --no-build) do_build=0; shift ;;
  --runs) runs=$2; shift 2 ;;
  --songs) songs=$2; shift 2 ;;
  --no-peers) peers=0; shift ;;
  --no-callgrind) do_callgrind=0; shift ;;
  --callgrind-song) cg_song=$2; shift 2 ;;
  --callgrind-row) cg_row=$2; shift 2 ;;
  --set) sound_set=$2; shift 2 ;;
  *) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done

# Packages: the project's list (freepats, openttd-openmsx, TiMidity++,
# FluidSynth and its SoundFont, compilers) and the measuring tools.
source scripts/deps.sh
torqa_install_missing time valgrind strace util-linux

if [ $do_build = 1 ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target torqa-cli vokraunit torqa_default_soundset -j "$(nproc)" >/dev/null
fi
cli=$build/torqa-cli
[ -x "$cli" ] && [ -f "$build/PLUGIN/VOKRA/$sound_set" ] || {
  echo "bench: $cli or $build/PLUGIN/VOKRA/$sound_set missing" >&2
  exit 1
}
export TORQA_PLUGIN_DIR=$build/PLUGIN
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
freepats_cfg=/etc/timidity/freepats.cfg

openmsx=/usr/share/games/openttd/baseset/openmsx
declare -A song_file=(
  [keep_on_rolling]=$openmsx/keep_on_rolling.mid
  [tttheme2]=$openmsx/tttheme2.mid
  [busy_schedule]=$openmsx/busy_schedule.mid
  [linns_basket]=$openmsx/linns_basket.mid
  [demo]=$root/demo/demo.mid
  [stress]=$root/demo/stress.mid
)

rate=44100
work=$(mktemp -d "${TMPDIR:-/tmp}/torqa-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

torqa_rows=(def off interp on)
peer_rows=()
[ $peers = 0 ] || peer_rows=(timidity_def timidity_lin fluidsynth)

torqa_args() {
  case $1 in
  def) echo "--reverb on --chorus on --lpf off --3d 0" ;;
  off | interp) echo "--reverb off --chorus off --lpf off --3d 0" ;;
  on) echo "--reverb on --chorus on --lpf on --3d 800 --3d-engine heavy" ;;
  esac
}

# The unit's interpolation switch lives in its registry key; each setting gets
# a registry file of its own, so no real settings are touched.
write_registry() {
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\QUIRN-PLUGIN\VOKRAUNIT\Statics]' \
    '"nUseCh"=dword:0000ffff' '"nFinalGain"=dword:0000007f' \
    "\"bOverSample\"=dword:0000000$2" "\"CFG\"=\"$sound_set\"" '' >"$1"
}
for row in "${torqa_rows[@]}"; do
  interp=0
  case $row in interp | on) interp=1 ;; esac
  write_registry "$work/registry-$row.reg" $interp
done

# TiMidity++ reads /etc/timidity/timidity.cfg before any -c file, and Debian's
# loads FluidR3 there; an empty file bound over it in a private mount namespace
# leaves freepats alone.
empty_cfg=$work/empty-timidity.cfg
: >"$empty_cfg"
timidity_cmd=(unshare -m sh -c 'mount --bind "$0" /etc/timidity/timidity.cfg && exec "$@"'
  "$empty_cfg" timidity -c "$freepats_cfg" -Ow -s "$rate")

if [ $peers = 1 ]; then
  for tool in timidity fluidsynth unshare; do
    command -v $tool >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
  done
  [ -f "$sf2" ] || { echo "bench: $sf2 is missing (fluid-soundfont-gm)" >&2; exit 1; }
  # Once: TiMidity++ must open no SoundFont, or it is not playing freepats.
  if command -v strace >/dev/null; then
    strace -f -e trace=open,openat -o "$work/strace.txt" \
      "${timidity_cmd[@]}" -o "$work/check.wav" "${song_file[demo]}" >/dev/null 2>&1
    if grep -q '\.sf2"' "$work/strace.txt"; then
      echo "bench: TiMidity++ opened a SoundFont despite the empty timidity.cfg:" >&2
      grep '\.sf2"' "$work/strace.txt" >&2
      exit 1
    fi
    echo "TiMidity++: $(grep -c '\.pat"' "$work/strace.txt") patch opens, no .sf2 (strace, demo)"
    rm -f "$work/check.wav"
  fi
fi

# One render under /usr/bin/time; appends "wall cpu maxrss_kb audio_seconds".
render_once() {
  local song=$1 row=$2 out=$work/out.wav file=${song_file[$1]} cmd args
  case $row in
  timidity_def) cmd=("${timidity_cmd[@]}" -o "$out" "$file") ;;
  timidity_lin) cmd=("${timidity_cmd[@]}" -EFresamp=l -EFreverb=0 -EFchorus=0 -o "$out" "$file") ;;
  fluidsynth) cmd=(fluidsynth -ni -q -F "$out" -r "$rate" "$sf2" "$file") ;;
  *)
    export TORQA_REGISTRY=$work/registry-$row.reg
    read -r -a args <<<"$(torqa_args "$row")"
    cmd=("$cli" render "$file" -o "$out" -r "$rate" "${args[@]}")
    ;;
  esac
  # Wall time from the clock in nanoseconds: time's own is in hundredths.
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "${cmd[@]}" >/dev/null 2>"$work/err.txt" || {
    echo "bench: $row failed on $song" >&2
    cat "$work/err.txt" >&2
    return 1
  }
  t1=$(date +%s%N)
  awk -v bytes="$(stat -c %s "$out")" -v rate=$rate -v ns=$((t1 - t0)) \
    'END { printf "%.4f %.3f %d %.3f\n", ns / 1e9, $1 + $2, $3, (bytes - 44) / 4 / rate }' "$work/time.txt"
  rm -f "$out"
}

IFS=, read -r -a song_list <<<"$songs"
rows=("${torqa_rows[@]}" "${peer_rows[@]}")
# Round by round over every song and renderer, so that a slow spell of a
# shared machine spreads over all of them instead of spoiling one.
for ((i = 0; i < runs; i++)); do
  for song in "${song_list[@]}"; do
    for row in "${rows[@]}"; do
      render_once "$song" "$row" >>"$work/runs-$row-$song.txt"
    done
  done
done

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
results=$work/results.txt
: >"$results"
for song in "${song_list[@]}"; do
  for row in "${rows[@]}"; do
    f=$work/runs-$row-$song.txt
    echo "$song $row $(cut -d' ' -f4 "$f" | median) $(cut -d' ' -f1 "$f" | median)" \
      "$(cut -d' ' -f2 "$f" | median) $(cut -d' ' -f3 "$f" | sort -g | tail -1)" >>"$results"
  done
done

echo
echo "At $rate Hz to 16-bit WAV, median of $runs rounds; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Torqa: def = reverb+chorus; off = no effects; interp = interpolation, no effects;"
echo "       on = interpolation, reverb, chorus, 3D Heavy depth 800, band filter"
echo "TiMidity++ (freepats): timidity_def = defaults; timidity_lin = -EFresamp=l -EFreverb=0 -EFchorus=0"
echo "FluidSynth (FluidR3 GM): defaults"
echo "×wall = audio seconds / wall seconds; ×cpu = audio seconds / (user+sys) seconds."
echo
printf "%-16s %-13s %8s %8s %8s %8s %8s %8s\n" song renderer "audio s" "wall s" "×wall" "cpu s" "×cpu" "RSS MiB"
awk '{ printf "%-16s %-13s %8.1f %8.3f %8.1f %8.2f %8.1f %8.1f\n", $1, $2, $3, $4, $3 / $4, $5, $3 / $5, $6 / 1024 }' "$results"

# Ratios of wall seconds (how many times faster Torqa is): def against
# TiMidity++ defaults, interp against its linear no-effects run, on against its
# defaults, def against FluidSynth. The BENCH lines add the same from CPU
# seconds, steadier when the machine is shared.
echo
awk -v peers=$peers '
  { wall[$1, $2] = $4; cpu[$1, $2] = $5; rss[$1, $2] = $6; if (!($1 in order)) { order[$1] = ++n; name[n] = $1 } }
  END {
    if (peers) printf "%-16s %9s %9s %9s %9s\n", "song", "def÷TiM", "interp÷lin", "on÷TiM", "def÷FS"
    for (i = 1; i <= n; i++) {
      k = name[i]
      line = sprintf("BENCH song=%s torqa_def_s=%s torqa_off_s=%s torqa_interp_s=%s torqa_on_s=%s", k,
        wall[k, "def"], wall[k, "off"], wall[k, "interp"], wall[k, "on"])
      if (peers) {
        rd = wall[k, "timidity_def"] / wall[k, "def"]; ri = wall[k, "timidity_lin"] / wall[k, "interp"]
        ro = wall[k, "timidity_def"] / wall[k, "on"]; rf = wall[k, "fluidsynth"] / wall[k, "def"]
        printf "%-16s %9.2f %9.2f %9.2f %9.2f\n", k, rd, ri, ro, rf
        gd += log(rd); gi += log(ri); go += log(ro); gf += log(rf)
        line = line sprintf(" timidity_def_s=%s timidity_lin_s=%s fluidsynth_s=%s ratio_def=%.3f ratio_interp=%.3f ratio_on=%.3f ratio_fs=%.3f",
          wall[k, "timidity_def"], wall[k, "timidity_lin"], wall[k, "fluidsynth"], rd, ri, ro, rf)
        line = line sprintf(" cpu_ratio_def=%.3f cpu_ratio_interp=%.3f cpu_ratio_on=%.3f",
          cpu[k, "timidity_def"] / cpu[k, "def"], cpu[k, "timidity_lin"] / cpu[k, "interp"], cpu[k, "timidity_def"] / cpu[k, "on"])
      }
      line = line sprintf(" rss_torqa_kb=%d rss_torqa_on_kb=%d", rss[k, "def"], rss[k, "on"])
      if (peers) line = line sprintf(" rss_timidity_kb=%d rss_fluidsynth_kb=%d", rss[k, "timidity_def"], rss[k, "fluidsynth"])
      out[i] = line
    }
    if (peers && n > 0) {
      gd = exp(gd / n); gi = exp(gi / n); go = exp(go / n); gf = exp(gf / n)
      printf "%-16s %9.2f %9.2f %9.2f %9.2f\n", "geometric mean", gd, gi, go, gf
      out[n + 1] = sprintf("BENCH song=geomean ratio_def=%.3f ratio_interp=%.3f ratio_on=%.3f ratio_fs=%.3f", gd, gi, go, gf)
      n++
    }
    print ""
    for (i = 1; i <= n; i++) print out[i]
  }' "$results"

if [ $do_callgrind = 1 ]; then
  echo
  echo "callgrind: instructions of the render loop (RenderRecordBlock and all it calls,"
  echo "units included; the sound-set load is not counted), $cg_song, $cg_row, $rate Hz"
  export TORQA_REGISTRY=$work/registry-$cg_row.reg
  # torqa-cli renders in a forked child: one output file per process.
  # shellcheck disable=SC2046
  valgrind --tool=callgrind --toggle-collect='RenderRecordBlock*' \
    --callgrind-out-file="$work/cg.%p" "$cli" render "${song_file[$cg_song]}" \
    -o "$work/cg.wav" -r $rate $(torqa_args "$cg_row") >/dev/null 2>"$work/cg.log"
  secs=$(awk -v b="$(stat -c %s "$work/cg.wav")" -v r=$rate 'BEGIN { printf "%.3f", (b - 44) / 4 / r }')
  ir=$(cat "$work"/cg.[0-9]* | awk '/^(summary|totals):/ { if ($2 > m) m = $2 } END { print m + 0 }')
  awk -v ir="$ir" -v s="$secs" 'BEGIN { printf "  %.0f instructions for %.1f s: %.1f M instructions per rendered second\n", ir, s, ir / s / 1e6 }'
fi
