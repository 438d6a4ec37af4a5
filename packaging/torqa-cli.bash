# bash completion for torqa-cli. Needs nothing from the bash-completion
# package, so it also works when sourced by hand.

# Adds to COMPREPLY the folders and the MIDI files (.mid, .midi, .rmi, any
# case) whose names start with $1, or with $2 given the files ending so.
_torqa_cli_files() {
  local cur=$1 ext=${2:-} f lower names
  compopt -o filenames 2>/dev/null # folders get their '/', names are quoted
  mapfile -t names < <(compgen -d -- "$cur")
  COMPREPLY+=("${names[@]}")
  mapfile -t names < <(compgen -f -- "$cur")
  for f in "${names[@]}"; do
    [ -d "$f" ] && continue
    lower=${f,,}
    if [ -n "$ext" ]; then
      [[ $lower == *."$ext" ]] && COMPREPLY+=("$f")
    elif [[ $lower == *.mid || $lower == *.midi || $lower == *.rmi ]]; then
      COMPREPLY+=("$f")
    fi
  done
}

_torqa_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W "info render play help" -- "$cur")
    return
  fi
  local words=
  case ${COMP_WORDS[1]} in
  render)
    case $prev in
    -o)
      _torqa_cli_files "$cur" wav
      return
      ;;
    --reverb | --chorus | --lpf) words="on off" ;;
    --3d-engine) words="light medium heavy" ;;
    -r) words="11025 22050 32000 44100 48000 96000" ;;
    --3d) words="0 400 800 1600" ;;
    -j) words="1 2 4" ;;
    --max-length) words="0 600 14400" ;;
    *)
      if [[ $cur == -* ]]; then
        words="-o -r --reverb --chorus --lpf --3d --3d-engine -j --max-length --help"
      else
        _torqa_cli_files "$cur"
        return
      fi
      ;;
    esac
    ;;
  play)
    case $prev in
    --from) words="1" ;;
    --speed) words="0.25 0.5 1 2 4" ;;
    --volume) words="-12 -6 0 6" ;;
    *)
      if [[ $cur == -* ]]; then
        words="--from --speed --volume --help"
      else
        _torqa_cli_files "$cur"
        return
      fi
      ;;
    esac
    ;;
  info)
    [ "$COMP_CWORD" -eq 2 ] && _torqa_cli_files "$cur"
    return
    ;;
  esac
  [ -n "$words" ] && mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

complete -F _torqa_cli torqa-cli
