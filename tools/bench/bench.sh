#!/usr/bin/env bash
# Render benchmark: installs what it needs, builds Release, renders the openmsx
# songs, the demo and the 256-voice stress song with torqa-cli to WAV at
# 44100 Hz (three runs each, the median counts) and prints a table against
# reference figures of other software synthesizers. Then counts instructions
# per rendered second with callgrind, which is stable on a busy machine.
#
#   tools/bench/bench.sh [--build DIR] [--no-build] [--runs N] [--rows LIST]
#                        [--songs LIST] [--no-callgrind] [--callgrind-song NAME]
#     --build DIR   build directory (default build-bench); with --no-build an
#                   existing build (torqa-cli and PLUGIN/ with the sound set)
#     --rows LIST   comma-separated subset of defaults,off,on
#     --songs LIST  comma-separated subset of the song names below
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

build=build-bench do_build=1 runs=3 do_callgrind=1 cg_song=demo
rows=defaults,off,on
songs=keep_on_rolling,tttheme2,busy_schedule,linns_basket,demo,stress
while [ $# -gt 0 ]; do
  case $1 in
  --build) build=$2; shift 2 ;;
  --no-build) do_build=0; shift ;;
  --runs) runs=$2; shift 2 ;;
  --rows) rows=$2; shift 2 ;;
  --songs) songs=$2; shift 2 ;;
  --no-callgrind) do_callgrind=0; shift ;;
  --callgrind-song) cg_song=$2; shift 2 ;;
  *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done

# Packages: the project's list (freepats, openttd-openmsx, compilers) and the
# two measuring tools.
source scripts/deps.sh
torqa_install_missing time valgrind

if [ $do_build = 1 ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target torqa-cli vokraunit torqa_default_soundset -j "$(nproc)" >/dev/null
fi
cli=$build/torqa-cli
[ -x "$cli" ] && [ -f "$build/PLUGIN/VOKRA/VOKRA.cfg" ] || {
  echo "bench: $cli or $build/PLUGIN/VOKRA/VOKRA.cfg missing" >&2
  exit 1
}
export TORQA_PLUGIN_DIR=$build/PLUGIN

openmsx=/usr/share/games/openttd/baseset/openmsx
declare -A song_file=(
  [keep_on_rolling]=$openmsx/keep_on_rolling.mid
  [tttheme2]=$openmsx/tttheme2.mid
  [busy_schedule]=$openmsx/busy_schedule.mid
  [linns_basket]=$openmsx/linns_basket.mid
  [demo]=$root/demo/demo.mid
  [stress]=$root/demo/stress.mid
)

# Reference figures (× real time), measured earlier on this kind of machine
# (2 vCPU, 44100 Hz, 16-bit stereo WAV, median of 3). Not re-measured here.
declare -A tim_default=([keep_on_rolling]=118 [tttheme2]=70 [busy_schedule]=153 [linns_basket]=154)
tim_fast_lo=320 tim_fast_hi=710 # TiMidity++, linear interpolation, no effects
fs_lo=32 fs_hi=62               # FluidSynth, FluidR3_GM, defaults

rate=44100
work=$(mktemp -d "${TMPDIR:-/tmp}/torqa-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

row_args() {
  case $1 in
  defaults) echo "--reverb on --chorus on --lpf off --3d 0" ;;
  off) echo "--reverb off --chorus off --lpf off --3d 0" ;;
  on) echo "--reverb on --chorus on --lpf on --3d 800 --3d-engine heavy" ;;
  esac
}

# The unit's interpolation switch lives in its registry key; each row gets a
# registry file of its own, so no real settings are touched.
write_registry() {
  cat >"$1" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics]
"nUseCh"=dword:0000ffff
"nFinalGain"=dword:0000007f
"bOverSample"=dword:0000000$2
"CFG"="VOKRA.cfg"

EOF
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One render under /usr/bin/time -v; prints "wall cpu maxrss_kb audio_seconds".
render_once() {
  local song=$1 row=$2 out=$work/out.wav tv=$work/time.txt
  # shellcheck disable=SC2046
  /usr/bin/time -v -o "$tv" "$cli" render "${song_file[$song]}" -o "$out" -r $rate \
    $(row_args "$row") >/dev/null 2>"$work/err.txt" || {
    cat "$work/err.txt" >&2
    return 1
  }
  local bytes
  bytes=$(stat -c %s "$out")
  awk -v bytes="$bytes" -v rate=$rate -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + t[i] }
    /User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { m = $2 }
    END { printf "%.3f %.3f %d %.3f\n", w, u + s, m, (bytes - 44) / 4 / rate }' "$tv"
  rm -f "$out"
}

IFS=, read -r -a row_list <<<"$rows"
IFS=, read -r -a song_list <<<"$songs"
results=$work/results.txt
: >"$results"
for row in "${row_list[@]}"; do
  interp=0
  [ "$row" != on ] || interp=1
  write_registry "$work/registry-$row.reg" $interp
done
# Round by round over every row and song, so that a slow spell of a shared
# machine spreads over all of them instead of spoiling one.
for ((i = 0; i < runs; i++)); do
  for row in "${row_list[@]}"; do
    export TORQA_REGISTRY=$work/registry-$row.reg
    for song in "${song_list[@]}"; do
      render_once "$song" "$row" >>"$work/runs-$row-$song.txt"
    done
  done
done
for row in "${row_list[@]}"; do
  for song in "${song_list[@]}"; do
    f=$work/runs-$row-$song.txt
    wall=$(cut -d' ' -f1 "$f" | median)
    cpu=$(cut -d' ' -f2 "$f" | median)
    rss=$(cut -d' ' -f3 "$f" | sort -g | tail -1)
    secs=$(head -1 "$f" | cut -d' ' -f4)
    echo "$row $song $secs $wall $cpu $rss" >>"$results"
  done
done

echo
echo "torqa-cli render at $rate Hz to WAV, $runs runs each (median); $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "settings: defaults = reverb+chorus, no 3D, no interpolation; off = no effects;"
echo "          on = interpolation, reverb, chorus, 3D Heavy depth 800, band filter"
echo "×wall = song seconds / wall seconds; ×cpu = song seconds / (user+sys) seconds (the"
echo "figure to trust on a shared machine). Ratios use ×wall against the reference figures."
echo
printf "%-8s %-16s %8s %8s %8s %8s %8s %9s %9s %9s %9s\n" setting song "song s" "wall s" "×wall" "cpu s" "×cpu" "RSS MiB" "÷TiM def" "÷TiM lin" "÷FS"
awk -v tlo=$tim_fast_lo -v thi=$tim_fast_hi -v flo=$fs_lo -v fhi=$fs_hi \
  -v tims="$(for s in "${!tim_default[@]}"; do printf '%s=%s ' "$s" "${tim_default[$s]}"; done)" '
  BEGIN { n = split(tims, a, " "); for (i = 1; i <= n; i++) { split(a[i], kv, "="); tim[kv[1]] = kv[2] } }
  {
    xw = $4 > 0 ? $3 / $4 : 0; xc = $5 > 0 ? $3 / $5 : 0
    td = ($2 in tim) ? sprintf("%.2f", xw / tim[$2]) : "-"
    tl = sprintf("%.2f-%.2f", xw / thi, xw / tlo)
    fs = sprintf("%.1f-%.1f", xw / fhi, xw / flo)
    printf "%-8s %-16s %8.1f %8.2f %8.1f %8.2f %8.1f %9.1f %9s %9s %9s\n", $1, $2, $3, $4, xw, $5, xc, $6 / 1024, td, tl, fs
  }' "$results"

cat <<EOF

Reference figures (× real time; measured earlier on this kind of machine: 2 vCPU,
44100 Hz, 16-bit stereo WAV, median of 3; not re-measured by this script):
  TiMidity++, freepats, default settings: keep_on_rolling 118, tttheme2 70,
                                          busy_schedule 153, linns_basket 154
  TiMidity++, linear interpolation, no effects: $tim_fast_lo to $tim_fast_hi
  FluidSynth, FluidR3_GM, default settings:     $fs_lo to $fs_hi
Columns ÷TiM lin and ÷FS give our ×wall over the top and the bottom of those ranges.
Targets: defaults ≥ 2× TiMidity default on each song and ≥ 5× FluidSynth;
         off ≥ 320× (≥ 710× wanted); stress (256 voices) > 10× with defaults.
EOF

if [ $do_callgrind = 1 ]; then
  echo
  echo "callgrind: instructions of the render loop (RenderRecordBlock and all it calls,"
  echo "units included; the sound-set load is not counted), $cg_song, defaults, $rate Hz"
  export TORQA_REGISTRY=$work/registry-cg.reg
  write_registry "$TORQA_REGISTRY" 0
  # torqa-cli renders in a forked child: one output file per process.
  # shellcheck disable=SC2046
  valgrind --tool=callgrind --toggle-collect='RenderRecordBlock*' \
    --callgrind-out-file="$work/cg.%p" "$cli" render "${song_file[$cg_song]}" \
    -o "$work/cg.wav" -r $rate $(row_args defaults) >/dev/null 2>"$work/cg.log"
  secs=$(awk -v b="$(stat -c %s "$work/cg.wav")" -v r=$rate 'BEGIN { printf "%.3f", (b - 44) / 4 / r }')
  ir=$(cat "$work"/cg.[0-9]* | awk '/^(summary|totals):/ { if ($2 > m) m = $2 } END { print m + 0 }')
  awk -v ir="$ir" -v s="$secs" 'BEGIN { printf "  %.0f instructions for %.1f s: %.1f M instructions per rendered second\n", ir, s, ir / s / 1e6 }'
fi
