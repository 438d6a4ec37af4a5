#!/usr/bin/env bash
# Fails when the tree loses its shape: engine code that includes the window
# toolkit or the audio library, a player layer that includes one above it, a
# source file clang-format would change, or a build file that globs sources or
# skips a part that is missing. Run by test.sh before anything is built.
set -uo pipefail
cd "$(dirname "$0")/.."

# The player's layers, lowest first; each may include only those before it
# (and common/, platform/). player/CMakeLists.txt links them in this order.
layers=(state units song render output app ui)

status=0
fail() {
  echo "check_shape: $*" >&2
  status=1
}

# Engine code runs headless: no FLTK, no SDL. The unit's windows (unit/ui/)
# are a library of their own that the unit loads only when a dialog opens.
engine=$(git ls-files -- player/state player/units player/song player/render unit common ':!:unit/ui')
if [ -n "$engine" ]; then
  hits=$(echo "$engine" | xargs grep -n -H -E '#include *[<"](FL/|SDL)' 2>/dev/null)
  [ -z "$hits" ] || fail "engine code includes a toolkit or audio-library header:"$'\n'"$hits"
fi

rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && echo "$i" && return
  done
  echo -1
}

# Every player folder is a layer, and no include runs back up the order.
for dir in player/*/; do
  layer=$(basename "$dir")
  own=$(rank "$layer")
  if [ "$own" -lt 0 ]; then
    fail "player/$layer is not in the layer order (scripts/check_shape.sh)"
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's|.*#include *"player/([a-z_]+)/.*|\1|' <<<"$text")
    [ "$(rank "$target")" -le "$own" ] ||
      fail "$file:$line includes the higher layer player/$target"
  done < <(git ls-files -- "$dir" | xargs grep -n -H -E '#include *"player/' 2>/dev/null)
done

# One layout for all code.
sources=$(git ls-files -- '*.cpp' '*.h' ':!:tests/fuzz/corpus')
changed=$(echo "$sources" | xargs clang-format --dry-run 2>&1 | grep 'warning:' | cut -d: -f1 | sort -u)
[ -z "$changed" ] || fail "clang-format would change:"$'\n'"$changed"

# Build files name their sources: a missing file must fail the build.
globs=$(git ls-files -- '*CMakeLists.txt' | xargs grep -n -H -E 'file\(GLOB|if\(EXISTS [^)]*CMakeLists' 2>/dev/null)
[ -z "$globs" ] || fail "build files glob or skip missing parts:"$'\n'"$globs"

[ "$status" -eq 0 ] && echo "check_shape: layers, headers, format and build lists in order"
exit "$status"
