#!/usr/bin/env bash
# torqa's dialogs end to end on a virtual display: each opened from its
# accelerator, operated with xdotool and confirmed; the settings file, the
# sound output and the recorded WAV checked; a screenshot of each.
# Usage: dialogs_display.sh BUILD_DIR SHOTS_DIR
set -euo pipefail
build="$1"
shots="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$shots"
rm -f "$shots"/*.png "$shots"/registry.txt "$shots"/audio.raw "$shots"/*.wav
export TORQA_REGISTRY="$shots/registry.txt"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$shots/audio.raw"

source "$(dirname "$0")/display_lib.sh"
shot() { sleep "${2:-0.5}"; import -window root "$shots/$1.png"; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# Keys go to the panel: the accelerators are the main loop's.
accel() {
  xdotool windowfocus --sync "$win" || true
  xdotool key "$1"
}
# Clicks control point (x, y) of dialog window $1, in dialog units (7 x 12
# pixel base units: x * 7 / 4, y * 12 / 8), a few pixels inside the control.
click_dlu() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2 * 7 / 4 + 4)) $((Y + $3 * 12 / 8 + 4)) click 1
}
# Chooses entry $4 of the drop-down combo at ($2, $3) dialog units, $5 wide,
# through its menu: the arrow, then Down once per entry from the first.
choose() {
  click_dlu "$1" $(($2 + $5 - 6)) "$3"
  sleep 0.3
  xdotool key $(printf 'Down %.0s' $(seq $(($4 + 1)))) Return
  sleep 0.3
}

# Waits for the recording into $wav: HDR2 gone and the file no longer growing.
recorded() {
  local size=-1 now
  for _ in $(seq 120); do
    sleep 0.5
    now="$(stat -c %s "$wav" 2>/dev/null || echo 0)"
    [ "$now" -gt 0 ] && [ "$now" = "$size" ] && gone "HDDR 録音中" && return
    size="$now"
  done
}

step "start with the demo; the working folder is where the WAV goes"
cd "$shots"
"$build/torqa" "$root/demo/demo.mid" &
pid=$!
win="$(find_window Torqa 100)" # a slow start under the sanitizers
[ -n "$win" ] || fail "no window"

step "Ctrl+S: SETUP; 48 kHz and the band filter, confirmed"
accel ctrl+s
dlg="$(find_window 環境設定)"
[ -n "$dlg" ] || fail "Ctrl+S opened no SETUP"
shot setup
[ "$(value bLPF)" != "dword:00000001" ] || fail "bLPF set before the dialog"
click_dlu "$dlg" 4 45 # "帯域フィルタ(44kHz以下）"
choose "$dlg" 2 132 8 79 # "48.000[kHz](DAT-EP)"
shot setup-chosen
click_dlu "$dlg" 81 1 # "設定"
gone 環境設定 || fail "SETUP stays open after 設定"
sleep 0.5
eventually value_is nPCMRate "dword:0000bb80" || fail "nPCMRate saved as $(value nPCMRate)"
eventually value_is bLPF "dword:00000001" || fail "bLPF saved as $(value bLPF)"

step "Ctrl+T: TEST; 再生 sounds and steps the program"
accel ctrl+t
dlg="$(find_window サウンドテスト)"
[ -n "$dlg" ] || fail "Ctrl+T opened no TEST"
shot test
eval "$(xdotool getwindowgeometry --shell "$dlg")"
program="35x18+$((X + 110))+$((Y + 6))" # edit 201 at 63, 4 dialog units
b1="$(bytes)"
click_dlu "$dlg" 45 63 # "再生"
shot test-played 1
[ "$(bytes)" -gt "$b1" ] || fail "再生 sent no sound"
[ "$(region test "$program")" != "$(region test-played "$program")" ] ||
  fail "the program edit did not step"

step "Ctrl+S with TEST open: closed around SETUP, back with its start values"
accel ctrl+s
dlg="$(find_window 環境設定)"
[ -n "$dlg" ] || fail "Ctrl+S opened no SETUP over the sound test"
gone サウンドテスト || fail "the sound test stays open during SETUP"
click_dlu "$dlg" 81 21 # "中断"
dlg="$(find_window サウンドテスト)"
[ -n "$dlg" ] || fail "the sound test did not come back"
shot test-again
eval "$(xdotool getwindowgeometry --shell "$dlg")"
program="35x18+$((X + 110))+$((Y + 6))"
[ "$(region test "$program")" = "$(region test-again "$program")" ] ||
  fail "the program edit kept its stepped value"
click_dlu "$dlg" 0 63 # "閉じる"
gone サウンドテスト || fail "閉じる left the sound test open"

step "Ctrl+H: HDR1 offers 48 kHz; 録音, a name, the recording"
accel ctrl+h
dlg="$(find_window "HDDR 設定")"
[ -n "$dlg" ] || fail "Ctrl+H opened no HDR1"
shot hdr1
click_dlu "$dlg" 1 41 # "録音"
chooser="$(find_window "Choose File")"
[ -n "$chooser" ] || fail "録音 opened no save dialog"
shot save
xdotool windowfocus --sync "$chooser" || true
xdotool type --delay 20 demo
xdotool key Return
gone "Choose File" || fail "the save dialog stays open"
wav="$shots/demo.wav"
recorded
[ -f "$wav" ] || fail "no demo.wav"
size="$(stat -c %s "$wav")"
[ "$(head -c 4 "$wav")" = RIFF ] && [ "$(dd if="$wav" bs=1 skip=8 count=4 2>/dev/null)" = WAVE ] ||
  fail "demo.wav is not RIFF/WAVE"
[ "$(le32 "$wav" 24)" = 48000 ] || fail "recorded at $(le32 "$wav" 24) Hz"
[ "$(le32 "$wav" 4)" = $((size - 8)) ] || fail "RIFF size $(le32 "$wav" 4) for $size bytes"
data="$(le32 "$wav" 40)"
[ "$data" = $((size - 44)) ] && [ "$data" -gt 0 ] && [ $((data % 8192)) = 0 ] ||
  fail "data size $data for $size bytes"
eventually value_is nPCMRate "dword:0000bb80" || fail "the recording changed nPCMRate"

step "the same name again: the overwrite prompt, Return replaces the file"
cp "$wav" "$shots/first.wav"
: >"$wav"
accel ctrl+h
dlg="$(find_window "HDDR 設定")"
[ -n "$dlg" ] || fail "Ctrl+H opened no HDR1 the second time"
click_dlu "$dlg" 1 41 # "録音"
chooser="$(find_window "Choose File")"
[ -n "$chooser" ] || fail "録音 opened no save dialog the second time"
xdotool windowfocus --sync "$chooser" || true
xdotool type --delay 20 demo
xdotool key Return
prompt=""
for _ in $(seq 25); do # the prompt's window has no title
  prompt="$(xdotool search --onlyvisible --class . 2>/dev/null | while read -r w; do
    [ -z "$(xdotool getwindowname "$w" 2>/dev/null)" ] && echo "$w"
  done | head -1)"
  [ -n "$prompt" ] && break
  sleep 0.2
done
[ -n "$prompt" ] || fail "no overwrite prompt"
shot overwrite
xdotool windowfocus --sync "$prompt" || true
xdotool key Return
recorded
cmp -s "$wav" "$shots/first.wav" || fail "the second recording differs from the first"

step "Ctrl+F1: the slide, then SETTRK with the demo's tracks"
accel ctrl+F1
dlg="$(find_window デバッグに関する情報)"
[ -n "$dlg" ] || fail "Ctrl+F1 opened no SETTRK"
shot settrk
click_dlu "$dlg" 168 14 # "閉じる"
gone デバッグに関する情報 || fail "閉じる left SETTRK open"

step "Ctrl+A: the About box, closed by a click"
accel ctrl+a
dlg="$(find_window "Torqa について・・・")"
[ -n "$dlg" ] || fail "Ctrl+A opened no About box"
shot about
click_dlu "$dlg" 60 60
gone "Torqa について・・・" || fail "a click left the About box open"

step "Ctrl+Q quits"
accel ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$pid" || fail "torqa exited with $?"
pid=""
echo "dialogs display: all steps passed"
