#!/usr/bin/env bash
# The sound unit's dialogs in torqa on a virtual display, opened from slot 1's
# buttons while a song plays: MIDI (the trackbar to 0 silences the unit at
# once, cancelled; then channel 10 off, confirmed), SETUP (another sound set,
# one of whose samples is missing, so the loading window stays), ENTRY (one
# window however often asked), then slot 1 cleared with ENTRY and LOADING open.
# torqa runs from a copy beside a PLUGIN folder of links to the build's.
# Usage: unit_dialogs_display.sh BUILD_DIR WORK_DIR
set -euo pipefail
build="$1"
work="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
rm -rf "$work"
mkdir -p "$work/PLUGIN/VOKRA"
cp "$build/torqa" "$work/"
ln -s "$build/PLUGIN/vokraunit.so" "$work/PLUGIN/"
for f in "$build"/PLUGIN/VOKRA/*; do ln -s "$f" "$work/PLUGIN/VOKRA/"; done
printf '1: missing.pat\n' >"$work/PLUGIN/VOKRA/broken.cfg"
export TORQA_REGISTRY="$work/registry.txt"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw"

source "$(dirname "$0")/display_lib.sh"
need_window() {
  local w
  w="$(find_window "$1")"
  [ -n "$w" ] || fail "no window named $1"
  echo "$w"
}
playing() { eventually grew "$(bytes)"; }
peak_below() { [ "$(peak)" -lt "$1" ]; }
slot1_empty() { [ -z "$(value P0 | tr -d '"')" ]; }
alive() { kill -0 "$pid" 2>/dev/null; }
# The largest magnitude in the last quarter second heard (16-bit stereo at 22050 Hz).
peak() {
  tail -c 22050 "$SDL_DISKAUDIOFILE" |
    python3 -c 'import array, sys; a = array.array("h", sys.stdin.buffer.read()); print(max(map(abs, a), default=0))'
}

step "start, play"
"$work/torqa" "$root/demo/demo.mid" &
pid=$!
win="$(need_window 'Torqa')"
xdotool windowfocus --sync "$win" || true
sleep 1
xdotool key space
playing || fail "the song does not play"

step "MIDI: playback goes on while it is open; the trackbar to 0 is heard at once, 中断 saves nothing"
[ "$(peak)" -gt 1000 ] || fail "the song is not heard: peak $(peak)"
xdotool mousemove 64 115 click 1
midi="$(need_window 'MIDI設定')"
playing || fail "playback stopped under the MIDI dialog"
xdotool mousemove --window "$midi" 180 60 mousedown 1 sleep 0.2 mousemove --window "$midi" 120 60 \
  sleep 0.2 mousemove --window "$midi" 40 60 sleep 0.2 mouseup 1
playing || fail "playback stopped under the MIDI dialog"
# the output ring and the reverb's tail first
eventually peak_below 100 || fail "the unit is heard at final gain 0: peak $(peak)"
xdotool mousemove --window "$midi" 283 58 click 1
gone 'MIDI設定' || fail "中断 left the MIDI dialog open"
eventually value_is nFinalGain "dword:0000007f" || fail "a cancelled gain was saved: $(value nFinalGain)"

step "MIDI again: channel 10 off, confirmed"
xdotool windowfocus --sync "$win" || true
xdotool mousemove 64 115 click 1
midi="$(need_window 'MIDI設定')"
xdotool mousemove --window "$midi" 212 33 click 1
xdotool mousemove --window "$midi" 225 58 click 1
gone 'MIDI設定' || fail "the MIDI dialog stays open"
eventually value_is nUseCh "dword:0000fdff" || fail "nUseCh is $(value nUseCh)"
eventually value_is nFinalGain "dword:00000000" || fail "nFinalGain is $(value nFinalGain)"

step "SETUP: another set, confirmed; the loading window stays for the missing sample"
xdotool windowfocus --sync "$win" || true
xdotool mousemove 94 115 click 1
setup="$(need_window '音源設定')"
xdotool windowfocus --sync "$setup" || true
xdotool mousemove --window "$setup" 60 28 click 1 key ctrl+a type broken.cfg
xdotool mousemove --window "$setup" 213 16 click 1
loading="$(need_window 'Now loading ...')"
xdotool windowmove --sync "$loading" 210 0 || true # off the panel
eventually value_is CFG '"broken.cfg"' || fail "CFG is $(value CFG)"
playing || fail "playback stopped after the reload"

step "ENTRY: asked twice, one window"
xdotool windowfocus --sync "$win" || true
xdotool mousemove 124 115 click 1
entry="$(need_window 'データエントリー')"
xdotool windowmove --sync "$entry" 210 400 || true # off the panel
xdotool mousemove 124 115 click 1
sleep 1
[ "$(titled 'データエントリー' | wc -l)" -eq 1 ] || fail "ENTRY opened twice"

step "clear slot 1 with ENTRY and LOADING open: both go, torqa stays"
xdotool mousemove 34 115 click 1
eventually slot1_empty || fail "slot 1 not cleared"
gone 'データエントリー' || fail "ENTRY outlived its unit"
gone 'Now loading ...' || fail "LOADING outlived its unit"
alive || fail "torqa ended when the unit was unloaded"
xdotool mousemove 100 60 sleep 0.5 mousemove 100 70
sleep 1
alive || fail "torqa ended after the unit was unloaded"

step "quit"
xdotool windowfocus --sync "$win" || true
xdotool key ctrl+q
for _ in $(seq 50); do alive || break; sleep 0.2; done
alive && fail "Ctrl+Q did not quit"
wait "$pid" || fail "torqa exited with $?"
pid=""
echo "unit dialogs display: all steps passed"
