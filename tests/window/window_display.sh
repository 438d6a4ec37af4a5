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
# Shot $1 taken (again) now: is its region $3 as in shot $2, or not?
now_same() { shot "$1" 0 && same "$1" "$2" "$3"; }
now_differs() { shot "$1" 0 && ! same "$1" "$2" "$3"; }
geometry_is() { xdotool getwindowgeometry "$win" | grep -q "Geometry: $1\$"; }
slot1() { value P0 | tr -d '"'; }
slot1_empty() { [ -z "$(slot1)" ]; }
slot1_set() { [ -n "$(slot1)" ]; }

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
eventually now_differs play start $kPlayLamp || fail "play lamp unchanged"
b1="$(bytes)"
eventually grew "$b1" || fail "no audio bytes after $b1"
eventually now_differs play2 play $kScreen || fail "meters do not move"

step "Space again: stopped"
xdotool key space
eventually now_same stop start $kPlayLamp || fail "play lamp still lit"

step "click channel 1's lamp: muted"
xdotool mousemove 65 4 click 1
eventually now_differs mute stop $kLamp0 || fail "lamp shows no mute"

step "arrow keys step the start measure"
xdotool key Right
eventually now_differs right mute $kMeasure || fail "Right did not step the measure"
xdotool key Left
eventually now_same left mute $kMeasure || fail "Left did not step back"

step "help screen and its scroll"
xdotool key F1
eventually now_differs help left $kScreen || fail "F1 shows no help"
sleep 0.5 # the whole page drawn
shot help 0
xdotool key Down Down
eventually now_differs helpscroll help $kScreen || fail "Down did not scroll the help"
xdotool key Escape
shot helpoff

step "slot 1: clear it, then assign the unit through the popup menu"
slot1_set || fail "first run left slot 1 empty"
xdotool mousemove 34 115 click 1
eventually slot1_empty || fail "slot 1 not cleared: $(slot1)"
shot cleared 0
xdotool mousemove 34 115 click 1
shot menu
xdotool key Down Return
eventually slot1_set || fail "the menu's unit is not in slot 1"
shot assigned 0

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
eventually grew "$b1" || fail "Space did not play from the About box"
xdotool key space
xdotool mousemove 100 100 click 1 # the About box closes on a click
sleep 1
xdotool search --name '^Torqa .' >/dev/null 2>&1 && fail "the About box stays open"
xdotool windowfocus --sync "$win" || true

step "Shift + right-click on size mode 1 gives mode 4, right-click mode 1"
xdotool mousemove 150 265 keydown shift click 3 keyup shift
eventually geometry_is 63x80 || fail "Shift + right-click did not give 63x80"
shot shiftright 0
xdotool mousemove 30 30 click 3
eventually geometry_is 200x280 || fail "right-click on mode 4 did not give 200x280"

step "size modes 2, 3, 4 and back to 1"
for mode in 2 3 4 1; do
  xdotool key ctrl+r
  shot "size$mode"
done
eventually geometry_is 200x280 || fail "size mode 1 is not 200x280"

if [ -n "$drop" ]; then
  step "drop a song: loaded and played"
  "$drop" "$win" 100 140 "$root/demo/demo.mid" || fail "drop not taken"
  eventually now_same dropped play $kPlayLamp || fail "the play lamp is not lit after the drop"
  b1="$(bytes)"
  eventually grew "$b1" || fail "the dropped song does not play"
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
