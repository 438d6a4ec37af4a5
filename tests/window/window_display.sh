#!/usr/bin/env bash
# torqa end to end on a virtual display: keys and clicks through xdotool, a
# screenshot per step, sound through SDL's disk driver, settings in a private
# registry file. Usage: window_display.sh BUILD_DIR SHOTS_DIR [DROP_HELPER]
set -euo pipefail
build="$1"
shots="$2"
drop="${3:-}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$shots"
rm -f "$shots"/*.png "$shots"/registry.txt "$shots"/audio.raw
export TORQA_REGISTRY="$shots/registry.txt"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$shots/audio.raw"

source "$(dirname "$0")/display_lib.sh"
shot() { sleep "${2:-1}"; import -window root "$shots/$1.png"; }
same() { [ "$(region "$1" "$3")" = "$(region "$2" "$3")" ]; }

kPlayLamp=8x8+5+52
kLamp0=8x8+62+1
kMeasure=24x9+17+52
kScreen=144x63+46+10

step "start with the demo on the command line"
"$build/torqa" "$root/demo/demo.mid" &
pid=$!
win="$(find_window Torqa 100)" # a slow start under the sanitizers
[ -n "$win" ] || fail "no window"
xdotool windowfocus --sync "$win" || true
shot start 2
[ "$(bytes)" -eq 0 ] || fail "the song played before Space"
geometry="$(xdotool getwindowgeometry "$win" | grep Geometry | awk '{print $2}')"
[ "$geometry" = "200x280" ] || fail "window is $geometry"

step "Space: the play lamp lights and sound flows"
xdotool key space
shot play 2
same start play $kPlayLamp && fail "play lamp unchanged"
b1="$(bytes)"
shot play2 1
b2="$(bytes)"
[ "$b2" -gt "$b1" ] || fail "no audio bytes ($b1 then $b2)"
same play play2 $kScreen && fail "meters do not move"

step "Space again: stopped"
xdotool key space
shot stop
same start stop $kPlayLamp || fail "play lamp still lit"

step "click channel 1's lamp: muted"
xdotool mousemove 65 4 click 1
shot mute
same stop mute $kLamp0 && fail "lamp shows no mute"

step "arrow keys step the start measure"
xdotool key Right
shot right
same mute right $kMeasure && fail "Right did not step the measure"
xdotool key Left
shot left
same mute left $kMeasure || fail "Left did not step back"

step "help screen and its scroll"
xdotool key F1
shot help
same left help $kScreen && fail "F1 shows no help"
xdotool key Down Down
shot helpscroll
same help helpscroll $kScreen && fail "Down did not scroll the help"
xdotool key Escape
shot helpoff

step "slot 1: clear it, then assign the unit through the popup menu"
[ -n "$(value P0 | tr -d '"')" ] || fail "first run left slot 1 empty"
xdotool mousemove 34 115 click 1
shot cleared
[ -z "$(value P0 | tr -d '"')" ] || fail "slot 1 not cleared: $(value P0)"
xdotool mousemove 34 115 click 1
shot menu
xdotool key Down Return
shot assigned 2
[ -n "$(value P0 | tr -d '"')" ] || fail "the menu's unit is not in slot 1"

step "Space plays while the About box has the focus"
xdotool windowfocus --sync "$win" || true # the closed menu took the focus with it
xdotool key ctrl+a
about=""
for _ in $(seq 50); do
  about="$(xdotool search --name '^Torqa .' 2>/dev/null | head -1)" && [ -n "$about" ] && break
  sleep 0.2
done
[ -n "$about" ] || fail "Ctrl+A opened no About box"
xdotool windowfocus --sync "$about" || true
xdotool key space
shot about 2
b1="$(bytes)" # the box hides the play lamp: listen instead
sleep 1
[ "$(bytes)" -gt "$b1" ] || fail "Space did not play from the About box"
xdotool key space
xdotool mousemove 100 100 click 1 # the About box closes on a click
sleep 1
xdotool search --name '^Torqa .' >/dev/null 2>&1 && fail "the About box stays open"
xdotool windowfocus --sync "$win" || true

step "Shift + right-click on size mode 1 gives mode 4, right-click mode 1"
xdotool mousemove 150 265 keydown shift click 3 keyup shift
shot shiftright
geometry="$(xdotool getwindowgeometry "$win" | grep Geometry | awk '{print $2}')"
[ "$geometry" = "63x80" ] || fail "Shift + right-click gave $geometry"
xdotool mousemove 30 30 click 3
sleep 1
geometry="$(xdotool getwindowgeometry "$win" | grep Geometry | awk '{print $2}')"
[ "$geometry" = "200x280" ] || fail "right-click on mode 4 gave $geometry"

step "size modes 2, 3, 4 and back to 1"
for mode in 2 3 4 1; do
  xdotool key ctrl+r
  shot "size$mode"
done
geometry="$(xdotool getwindowgeometry "$win" | grep Geometry | awk '{print $2}')"
[ "$geometry" = "200x280" ] || fail "size mode 1 is $geometry"

if [ -n "$drop" ]; then
  step "drop a song: loaded and played"
  "$drop" "$win" 100 140 "$root/demo/demo.mid" || fail "drop not taken"
  shot dropped 2
  same play dropped $kPlayLamp || fail "the play lamp is not lit after the drop"
  b1="$(bytes)"
  sleep 1
  [ "$(bytes)" -gt "$b1" ] || fail "the dropped song does not play"
  xdotool key space
  shot dropstop
fi

step "move the window, quit with Ctrl+Q: the placement is saved"
xdotool mousemove 150 270 mousedown 1 sleep 0.3 mousemove 200 300 sleep 0.3 mousemove 250 330 sleep 0.3 mouseup 1
shot moved
xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$pid" || fail "torqa exited with $?"
pid=""
[ "$(value nPosX)" = "dword:00000064" ] || fail "nPosX is $(value nPosX)"
[ "$(value nPosY)" = "dword:0000003c" ] || fail "nPosY is $(value nPosY)"
echo "window display: all steps passed"
