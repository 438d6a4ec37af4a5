# What the display tests share: sourced after TORQA_REGISTRY and
# SDL_DISKAUDIOFILE are set and, for region, $shots names the screenshots'
# folder. The caller keeps torqa's process id in $pid.
pid=""
fail() {
  echo "FAIL: $*" >&2
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  exit 1
}
step() { echo "-- $*"; }
# A region's pixel digest: WxH+X+Y of a screenshot.
region() { convert "$shots/$1.png" -crop "$2" +repage -format '%#' info:; }
value() { grep -a "^\"$1\"=" "$TORQA_REGISTRY" | cut -d= -f2-; }
bytes() { stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0; }
value_is() { [ "$(value "$1")" = "$2" ]; }
grew() { [ "$(bytes)" -gt "$1" ]; }

# The ids of the top-level windows titled exactly $1 (xwininfo shows Japanese
# titles as they are; xdotool's name search does not match them).
titled() { xwininfo -root -children 2>/dev/null | grep -F " \"$1\": " | awk '{print $1}' || true; }
# The window titled $1, waiting up to $2 tries of 0.2 s (default 50, ten
# seconds); empty when none comes.
find_window() {
  local w
  for _ in $(seq "${2:-50}"); do
    w="$(titled "$1" | head -1)"
    [ -n "$w" ] && echo "$w" && return
    sleep 0.2
  done
}
# Runs "$@" until it succeeds, for up to ten seconds: a loaded machine may
# take seconds to handle a key and draw what it did.
eventually() {
  for _ in $(seq 20); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}
# Succeeds once no window is titled $1, within five seconds.
gone() {
  for _ in $(seq 25); do
    [ -z "$(titled "$1")" ] && return 0
    sleep 0.2
  done
  return 1
}
