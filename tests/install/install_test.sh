#!/usr/bin/env bash
# The installed program as a user gets it.
#   install_test.sh tree BUILD SOURCE   installs into a temporary prefix and runs it
#   install_test.sh docs BUILD          man pages and completion know every option
#   install_test.sh deb BUILD           the .deb's dependencies and paths
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source_dir=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
unset TORQA_PLUGIN_DIR
export HOME=$tmp/home XDG_CONFIG_HOME=
mkdir -p "$HOME"

install_into() {
  cmake --install "$build" --prefix "$1" >/dev/null
}

case $mode in
tree)
  prefix=$tmp/usr
  install_into "$prefix"
  lib=$prefix/lib/torqa
  for program in torqa torqa-cli; do
    [ -L "$prefix/bin/$program" ] || fail "bin/$program is not a link"
    [ "$(readlink -f "$prefix/bin/$program")" = "$(readlink -f "$lib/$program")" ] ||
      fail "bin/$program does not reach lib/torqa/$program"
  done
  [ -L "$lib/PLUGIN/VOKRA/freepats" ] || fail "PLUGIN/VOKRA/freepats is no longer a link"
  # A BMP beside the program would replace a built-in panel image.
  bmps=$(find "$lib" -maxdepth 1 -iname '*.bmp')
  [ -z "$bmps" ] || fail "skin files beside the program: $bmps"
  desktop-file-validate "$prefix/share/applications/torqa.desktop" || fail "torqa.desktop"

  # Started through its bin/ link, the installed tool finds PLUGIN/ and the
  # default sound set beside its real file: its render has the build's bytes.
  # It writes nothing into the (root's) program tree.
  touch "$tmp/before"
  sleep 1
  TORQA_REGISTRY=$tmp/installed.reg "$prefix/bin/torqa-cli" render \
    "$source_dir/demo/demo.mid" -o "$tmp/installed.wav" >/dev/null || fail "the installed render"
  TORQA_REGISTRY=$tmp/build.reg "$build/torqa-cli" render \
    "$source_dir/demo/demo.mid" -o "$tmp/build.wav" >/dev/null || fail "the build's render"
  cmp -s "$tmp/installed.wav" "$tmp/build.wav" || fail "the installed render differs from the build's"
  written=$(find "$prefix" -newer "$tmp/before")
  [ -z "$written" ] || fail "a render wrote into the installed tree: $written"
  ;;

docs)
  prefix=$tmp/usr
  install_into "$prefix"
  cli=$prefix/bin/torqa-cli
  man=$(zcat "$prefix/share/man/man1/torqa-cli.1.gz" | sed 's/\\//g')
  completion=$prefix/share/bash-completion/completions/torqa-cli
  [ -f "$completion" ] || fail "no bash completion for torqa-cli"
  # What the installed completion offers after COMP_WORDS, as bash-completion
  # would call it.
  offered() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _torqa_cli
             printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
  }
  has_word() { grep -qE -- "(^|[^a-z0-9-])$1([^a-z0-9-]|\$)" <<<"$2"; }
  commands=$("$cli" help | sed -n 's/^  \([a-z]\+\) .*/\1/p')
  [ -n "$commands" ] || fail "torqa-cli help lists no command"
  for command in $commands; do
    has_word "torqa-cli $command" "$man" || fail "torqa-cli(1) lacks the command $command"
    grep -qx "$command" <<<"$(offered torqa-cli '')" || fail "the completion lacks $command"
  done
  for command in render play; do
    for option in $("$cli" "$command" --help | grep -o -E '(^|[[ ])(--[a-z0-9][a-z0-9-]*|-[a-z]\b)' | tr -d '[ ' | sort -u); do
      has_word "$option" "$man" || fail "torqa-cli(1) lacks $command $option"
      grep -qx -- "$option" <<<"$(offered torqa-cli "$command" -)" ||
        fail "the completion lacks $command $option"
    done
  done
  for page in torqa torqa-cli torqa-mkcfg; do
    warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | LC_ALL=C.UTF-8 MANWIDTH=80 \
      man --warnings -l - 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
  ;;

deb)
  cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >/dev/null
  deb=$(find "$tmp/deb" -maxdepth 1 -name 'torqa_*.deb')
  [ -n "$deb" ] || fail "cpack made no torqa_*.deb"
  depends=$(dpkg-deb -f "$deb" Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//')
  # freepats comes from the link to its patches, libfltk1.3 from the linked
  # library, the rest are loaded or asked for by name at run time.
  for package in freepats libfltk1.3 libsdl2-2.0-0 fonts-ipafont-gothic fonts-ipafont-mincho; do
    grep -qx "$package" <<<"$depends" || fail "Depends lacks $package: $(dpkg-deb -f "$deb" Depends)"
  done
  contents=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
  for path in \
    './usr/bin/torqa -> ../lib/torqa/torqa' \
    './usr/bin/torqa-cli -> ../lib/torqa/torqa-cli' \
    ./usr/bin/torqa-mkcfg \
    ./usr/lib/torqa/torqa \
    ./usr/lib/torqa/torqa-cli \
    ./usr/lib/torqa/PLUGIN/vokraunit.so \
    ./usr/lib/torqa/PLUGIN/VOKRA/VOKRA.cfg \
    './usr/lib/torqa/PLUGIN/VOKRA/freepats -> /usr/share/midi/freepats' \
    ./usr/share/applications/torqa.desktop \
    ./usr/share/icons/hicolor/48x48/apps/torqa.png \
    ./usr/share/man/man1/torqa.1.gz \
    ./usr/share/man/man1/torqa-cli.1.gz \
    ./usr/share/bash-completion/completions/torqa-cli \
    ./usr/share/doc/torqa/copyright; do
    grep -qxF -- "$path" <<<"$contents" || fail "the .deb lacks $path"
  done
  grep -q '^\./usr/lib/torqa/PLUGIN/VOKRA/freepats-epc/.*\.epc$' <<<"$contents" ||
    fail "the .deb holds no converted samples"
  ;;

*)
  echo "usage: install_test.sh tree|docs|deb BUILD [SOURCE]" >&2
  exit 2
  ;;
esac
exit $status
