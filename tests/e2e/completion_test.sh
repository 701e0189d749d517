#!/usr/bin/env bash
# End-to-end test of the bash completion: what it offers for a table of
# command lines in a folder of sample files, and that it knows every option
# that `fwpack --help` lists. Arguments: the completion script, then fwpack.
set -u
script=$1 fwpack=$2
source "$script"
failures=0
help=$("$fwpack" --help) || { echo "FAILED: $fwpack --help"; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
touch a.hex B.HEX c.Srec d.bin e.DfU notes.txt 'with space.hex'
mkdir sub

# The words of a command line, the last the one being completed, then "=>"
# and what is offered, sorted, "|" between the words.
cases=(
  "fwpack '' => B.HEX|a.hex|c.Srec|d.bin|e.DfU|sub|with space.hex"
  "fwpack a.hex '' => B.HEX|a.hex|c.Srec|d.bin|e.DfU|notes.txt|sub|with space.hex"
  "fwpack -d 1209:5af0 w => with space.hex"
  "fwpack -n -d '' => B.HEX|a.hex|c.Srec|d.bin|e.DfU|sub|with space.hex"
  "fwpack -f '' => bin|dfu|dfu-plain|hex|srec|uf2"
  "fwpack --format = s => srec"
  "fwpack --add = a => a.hex"
  "fwpack --info n => "
  "fwpack -- -x n => notes.txt"
  "fwpack --ver => --version"
  "fwpack --a => --add|--align|--alt"
)
for case in "${cases[@]}"; do
  eval "COMP_WORDS=(${case% =>*})"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _fwpack
  offered=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|')
  expected=${case#*=> }
  if [[ $offered != "$expected" ]]; then
    echo "FAILED: ${case% =>*}: offered '$offered', expected '$expected'"
    ((failures++))
  fi
done

# Every option in the help text, "-x, --long" or "--long", is completed.
options=$(grep -oE '^ +(-[a-zA-Z], )?--[a-z0-9-]+' <<<"$help" | grep -oE -- '-[a-zA-Z]|--[a-z0-9-]+')
for option in $options; do
  [[ -n $(_fwpack_value_kind "$option") ]] || {
    echo "FAILED: $option from fwpack --help is not completed"
    ((failures++))
  }
done

((failures == 0)) && echo "completion: ${#cases[@]} command lines and the options of --help"
exit $((failures > 0))
