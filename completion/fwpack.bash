# Completion of fwpack's command line in bash: its options, the output
# formats, and the files it reads, by their extensions in any case.

# One line per option: its names, then what completes its value: "files" (the
# files fwpack reads), "output" (any file), "formats" (output formats),
# "inputformats", "overlaps" (the rules of --overlap), "fills" (all),
# "text" (nothing to offer), or "-" when the option takes no
# value.
_fwpack_option_table=(
  "-d --device   text"
  "-r --release  text"
  "-a --alt      text"
  "-n --name     text"
  "-f --format   formats"
  "-o --output   output"
  "-I --input-format inputformats"
  "-b --base     text"
  "--add         files"
  "-t --target   files"
  "--info        files"
  "--compare     -"
  "--map         output"
  "--layout      text"
  "--split       -"
  "--pad-byte    text"
  "--family      text"
  "--overlap     overlaps"
  "--crop        text"
  "--exclude     text"
  "--offset      text"
  "--fill        fills"
  "--align       text"
  "--pad-pages   -"
  "--crc32       text"
  "--crc32-be    text"
  "--crc32-mpeg2 text"
  "--crc32-mpeg2-be text"
  "--length      text"
  "--length-be   text"
  "--json        -"
  "-h --help     -"
  "-V --version  -"
)
_fwpack_formats="dfu dfu-plain bin uf2 hex srec"
_fwpack_input_formats="hex srec bin dfu elf uf2"
# The extensions of the files fwpack reads, one word each.
_fwpack_extensions="hex srec bin dfu elf axf uf2"

# What completes the value of option $1: a kind from the table, or nothing
# when $1 is no option of fwpack's.
_fwpack_value_kind() {
  local row name
  for row in "${_fwpack_option_table[@]}"; do
    for name in ${row% *}; do
      if [[ $name == "$1" ]]; then
        echo "${row##* }"
        return
      fi
    done
  done
}

# A glob that matches the extensions in any case: hex -> *.@([hH][eE][xX]|...).
_fwpack_extension_glob() {
  local extension glob="" i c
  for extension in $_fwpack_extensions; do
    glob+="${glob:+|}"
    for ((i = 0; i < ${#extension}; i++)); do
      c=${extension:i:1}
      glob+="[${c,}${c^}]"
    done
  done
  echo "*.@($glob)"
}

# Completes $2 with directories and the files fwpack reads, or with every file
# when $1 is "any".
_fwpack_files() {
  local glob restore_extglob
  glob=$(_fwpack_extension_glob)
  restore_extglob=$(shopt -p extglob)
  shopt -s extglob
  # One name a line, so that names with spaces stay whole.
  local IFS=$'\n'
  if [[ $1 == any ]]; then
    COMPREPLY=($(compgen -f -- "$2"))
  else
    COMPREPLY=($(compgen -d -- "$2") $(compgen -f -X "!$glob" -- "$2"))
  fi
  eval "$restore_extglob"
  compopt -o filenames 2>/dev/null
}

# Completes $2 as the value of an option whose value is of kind $1.
_fwpack_value() {
  case $1 in
    formats) COMPREPLY=($(compgen -W "$_fwpack_formats" -- "$2")) ;;
    inputformats) COMPREPLY=($(compgen -W "$_fwpack_input_formats" -- "$2")) ;;
    overlaps) COMPREPLY=($(compgen -W "refuse identical replace" -- "$2")) ;;
    fills) COMPREPLY=($(compgen -W "all" -- "$2")) ;;
    files) _fwpack_files inputs "$2" ;;
    output) _fwpack_files any "$2" ;;
  esac
}

_fwpack() {
  # bash splits "--format=hex" into three words; join them again.
  local words=() cword=0 i word last
  for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
    word=${COMP_WORDS[i]}
    last=""
    ((${#words[@]})) && last=${words[${#words[@]} - 1]}
    if [[ ($word == = && $last == --* && $last != *=*) || ($last == --*= && $word != =) ]]; then
      words[${#words[@]} - 1]+=$word
    else
      words+=("$word")
    fi
    ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
  done
  local current=${words[cword]} kind positionals=0 options_ended=false
  COMPREPLY=()

  # Count the files before the current word, skipping option values; the
  # current word may be such a value itself.
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    if $options_ended || [[ $word != -* || $word == - ]]; then
      ((positionals++))
    elif [[ $word == -- ]]; then
      options_ended=true
    elif [[ $word != --*=* ]]; then
      kind=$(_fwpack_value_kind "$word")
      if [[ -n $kind && $kind != - ]]; then
        if ((i + 1 == cword)); then
          _fwpack_value "$kind" "$current"
          return
        fi
        ((i++))
      fi
    fi
  done

  if ! $options_ended && [[ $current == --*=* ]]; then
    _fwpack_value "$(_fwpack_value_kind "${current%%=*}")" "${current#*=}"
  elif ! $options_ended && [[ $current == -* ]]; then
    local row names=""
    for row in "${_fwpack_option_table[@]}"; do
      names+=" ${row% *}"
    done
    COMPREPLY=($(compgen -W "$names --" -- "$current"))
  elif ((positionals == 0)); then
    _fwpack_files inputs "$current"
  else
    # The second file is the output, which may be any file or a new one.
    _fwpack_files any "$current"
  fi
}

complete -F _fwpack fwpack
