#!/usr/bin/env bash
# torqa-cli as a hostile user drives it: one case per run, named by $1.
# Needs TORQA_CLI (the program); the leak case also LEAKY_UNIT_DIR and
# TORQA_SANITIZED. Exits 0 on success, 77 when the case does not apply here.
set -uo pipefail
cli=${TORQA_CLI:?}
work=$(mktemp -d /tmp/torqa-cli-robust-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export TORQA_REGISTRY=$work/registry.reg

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# song FILE TRACK_HEX: a format 0 file, 480 ticks per quarter note, one track.
song() {
  local track=$2
  local len
  len=$(printf '%08x' $((${#track} / 2)))
  printf '%b' "$(echo "4d546864000000060000000101e04d54726b$len$track" | sed 's/../\\x&/g')" >"$1"
}
# A note for one beat (0.5 s at the start tempo of 120 bpm).
short_song() { song "$1" 00903c648360803c0000ff2f00; }
# A note, then 0x1FFFFFF ticks (33554431 x 0.5 s / 480 = 34952.53 s) to its end.
long_song() { song "$1" 00903c648fffff7f803c0000ff2f00; }
# An organ chord of six notes held for an hour: slow enough to stop midway.
hour_song() {
  song "$1" 00c01300903c6400904064009043640090486400904c640090546481d2f800803c0000ff2f00
}

# The data size a WAV file's header states.
header_data_size() { od -An -tu4 -j40 -N4 "$1" | tr -d ' '; }

case $1 in
duplicate_output)
  # Two spellings of one output file, and a linked directory: refused before
  # anything renders.
  mkdir d && short_song d/song.mid && cp d/song.mid d/song.MID && ln -s d e
  "$cli" render d/song.mid ./d/song.MID -j 2 2>err && fail "two spellings were accepted"
  grep -q "would both write" err || fail "no reason given: $(cat err)"
  "$cli" render d/song.mid e/song.mid -j 2 2>err && fail "a linked directory was accepted"
  [ ! -e d/song.wav ] || fail "a render started"
  ;;
sigterm_to_parent)
  # SIGTERM to the parent alone stops the render; the WAV is valid and partial.
  hour_song chord.mid
  "$cli" render chord.mid -o out.wav -r 8000 2>err &
  pid=$!
  for _ in $(seq 400); do
    [ -f out.wav ] && [ "$(stat -c %s out.wav)" -gt 100000 ] && break
    sleep 0.05
  done
  kill -TERM "$pid"
  wait "$pid"
  rc=$?
  [ "$rc" = 143 ] || fail "exit $rc, not 143: $(cat err)"
  grep -q interrupted err || fail "not said: $(cat err)"
  size=$(stat -c %s out.wav)
  [ "$(header_data_size out.wav)" = $((size - 44)) ] || fail "header does not state the data"
  seconds=$(sox --i -D out.wav) || fail "sox cannot read it"
  awk "BEGIN { exit !($seconds > 0 && $seconds < 3000) }" || fail "not partial: $seconds s"
  ;;
max_length)
  # A song still playing at the limit is cut off there, and stderr says so.
  long_song long.mid
  "$cli" render long.mid --max-length 2 2>err || fail "exit $?: $(cat err)"
  grep -q "cut off" err || fail "not said: $(cat err)"
  seconds=$(sox --i -D long.wav)
  awk "BEGIN { exit !($seconds >= 2 && $seconds < 2.2) }" || fail "$seconds s long"
  ;;
info_long_song)
  # The length of a song of nearly ten hours, from its tempo map.
  long_song long.mid
  "$cli" info long.mid >out || fail "exit $?"
  grep -q "(33554431 ticks), 34952.5" out || fail "$(grep length out)"
  grep -q stopped out && fail "$(grep length out)"
  ;;
fifo_song)
  # A song in a FIFO is read once.
  short_song song.mid && mkfifo fifo.mid
  cat song.mid >fifo.mid &
  timeout 60 "$cli" render fifo.mid -o fifo.wav 2>err || fail "exit $?: $(cat err)"
  sox --i -D fifo.wav >/dev/null || fail "no valid WAV"
  ;;
process_substitution)
  short_song song.mid
  timeout 60 "$cli" render <(cat song.mid) -o ps.wav 2>err || fail "exit $?: $(cat err)"
  sox --i -D ps.wav >/dev/null || fail "no valid WAV"
  ;;
stdout_wav)
  # -o - streams the WAV: the largest sizes in its header, as sox writes
  # them, then the same samples as a file gets.
  short_song song.mid
  "$cli" render song.mid -o - 2>err | cat >piped.wav
  [ "${PIPESTATUS[0]}" = 0 ] || fail "exit ${PIPESTATUS[0]}: $(cat err)"
  "$cli" render song.mid -o file.wav 2>/dev/null || fail "file render failed"
  [ "$(header_data_size piped.wav)" = $((0x7FFFF000)) ] || fail "header $(header_data_size piped.wav)"
  cmp <(tail -c +45 piped.wav) <(tail -c +45 file.wav) || fail "the samples differ"
  [ -s err ] || fail "the outcome line is not on stderr"
  ;;
dev_null)
  short_song song.mid
  "$cli" render song.mid -o /dev/null 2>err || fail "exit $?: $(cat err)"
  ;;
empty_output_name)
  short_song song.mid
  "$cli" render song.mid -o "" 2>err
  [ $? = 2 ] || fail "an empty name was accepted"
  [ ! -e song.wav ] || fail "rendered anyway"
  ;;
info_directory)
  mkdir d
  "$cli" info d 2>err && fail "exit 0"
  grep -q "is a directory" err || fail "$(cat err)"
  ;;
too_large)
  # Over the reader's 1 GiB (a sparse file): said so, not "not a MIDI file".
  truncate -s 1025M big.mid
  "$cli" info big.mid 2>err && fail "exit 0"
  grep -q "too large" err || fail "info: $(cat err)"
  "$cli" render big.mid 2>err && fail "exit 0"
  grep -q "too large" err || fail "render: $(cat err)"
  ;;
plugin_dir_too_long)
  short_song song.mid
  TORQA_PLUGIN_DIR=$(printf 'x%.0s' $(seq 5000)) "$cli" render song.mid 2>err && fail "exit 0"
  grep -q "TORQA_PLUGIN_DIR is too long" err || fail "$(cat err)"
  [ ! -e song.wav ] || fail "rendered with other units"
  ;;
leak_in_render_child)
  # A unit that leaks in the render child: the leak check sees it.
  [ "${TORQA_SANITIZED:-0}" = 1 ] || exit 77
  song song.mid 00903c648360803c0000903e648360803e0000ff2f00 # two notes: the first block is lost
  ASAN_OPTIONS=detect_leaks=1 TORQA_PLUGIN_DIR=${LEAKY_UNIT_DIR:?} "$cli" render song.mid 2>err &&
    fail "exit 0: $(cat err)"
  grep -q "LeakSanitizer" err || fail "no leak report: $(cat err)"
  ;;
*)
  fail "no case $1"
  ;;
esac
exit 0
