# Bash completion for orvane: option names, filter names after -filter, and
# image files where a file name goes (the last word, and the value of -o,
# which may be a folder: the photo then goes into it under its own name).

# How many values follow each edit option.
_orvane_values() {
  case "${1,,}" in
    -c) echo 4 ;;
    -wh) echo 2 ;;
    -r | -o | -oq | -w | -h | -filter) echo 1 ;;
    *) echo 0 ;;
  esac
}

# Image files, in any letter case, and folders to walk into, that begin
# with $1.
_orvane_images() {
  local name
  local -a found
  mapfile -t found < <(compgen -f -- "$1")
  for name in "${found[@]}"; do
    if [[ -d $name ]]; then
      COMPREPLY+=("$name/")
    else
      case "${name,,}" in
        *.jpg | *.jpeg | *.bmp | *.png) COMPREPLY+=("$name") ;;
      esac
    fi
  done
}

# The filter names -filter takes, in any letter case.
_orvane_filters() {
  local name
  for name in Box Triangle Mitchell Catrom Lanczos Spline bilinear bicubic \
    bspline catmullrom lanczos3; do
    [[ ${name,,} == "${1,,}"* ]] && COMPREPLY+=("$name")
  done
}

_orvane_options() {
  local -a options=(-c -r -fh -fv -o -oq -w -h -wh -filter -upright -strip
                    -lossless -dbg= '-?' -help -ver --help --version)
  local option
  for option in "${options[@]}"; do
    [[ $option == "$1"* ]] && COMPREPLY+=("$option")
  done
}

_orvane() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local option="" pending=0 i
  COMPREPLY=()
  # Walk the words before the cursor to see whether it sits on a value.
  for ((i = 1; i < COMP_CWORD; i++)); do
    if ((pending > 0)); then
      ((pending--))
    else
      option=${COMP_WORDS[i]}
      pending=$(_orvane_values "$option")
    fi
  done
  if ((pending > 0)); then
    [[ ${option,,} == -o ]] && _orvane_images "$cur"
    [[ ${option,,} == -filter ]] && _orvane_filters "$cur"
  elif [[ $cur == -* ]]; then
    _orvane_options "$cur"
  else
    _orvane_images "$cur"
  fi
  # Folders and -dbg= are unfinished words: no blank behind them.
  if [[ ${#COMPREPLY[@]} == 1 &&
        (${COMPREPLY[0]} == */ || ${COMPREPLY[0]} == -dbg=) ]]; then
    compopt -o nospace 2>/dev/null
  fi
  return 0
}

complete -F _orvane orvane
