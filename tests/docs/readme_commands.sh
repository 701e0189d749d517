#!/usr/bin/env bash
# Runs the fwpack commands that README.md shows, in the order it shows them,
# in one scratch folder holding the files they name, and compares what each
# prints with the lines the README shows beneath it.
#   readme_commands.sh <README.md> <fwpack> <example HEX file> <ELF file>
# A command is an indented line that begins with "$ " (a trailing "\" joins
# the next line), or the part of another indented line that begins with
# "fwpack " or "build/bin/fwpack "; lines that hold "<" are a synopsis, not
# a command. The lines beneath a "$ " command, up to the next one, are what
# it prints: standard output, then standard error. It must end with status 0
# unless one of them is an error of fwpack ("fwpack: ..." but a warning).
# A command that talks to a device (dfu-util) is skipped, and so is one whose
# tool is not installed, noted in FWPACK_TEST_SKIP_LOG when that is set.
set -uo pipefail
readme=$1 fwpack=$(realpath "$2") example=$(realpath "$3") elf=$(realpath "$4")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/.path" "$work/build/bin" "$work/examples"
ln -s "$fwpack" "$work/.path/fwpack"
ln -s "$fwpack" "$work/build/bin/fwpack"
export PATH="$work/.path:$PATH"

# The files the commands name: the example image (three elements from
# 0x08000000) as the firmware and the bootloader, 16 bytes at 0x08004000 as
# the application, 8 option bytes at 0x1FFFC000, the application with its
# option bytes, a raw binary, S-records, and a linked firmware ELF file.
(
  cd "$work" || exit 1
  cp "$example" examples/firmware.hex && cp "$example" firmware.hex && cp "$example" bootloader.hex &&
    cp "$elf" build/app.elf && cp "$elf" app.elf &&
    printf 'application 1.0\n' >app.bin &&
    fwpack -f hex -b 0x08004000 app.bin -o application.hex &&
    printf '\xaa\x55\xff\x00\xff\x00\xff\x00' >ob.bin &&
    fwpack -f hex -b 0x1FFFC000 ob.bin -o option-bytes.hex &&
    fwpack -f hex firmware.hex --add option-bytes.hex -o app.hex &&
    fwpack -f srec firmware.hex -o fw.s19 && rm ob.bin
) 2>/dev/null || { echo "could not make the files the README's commands name"; exit 1; }

commands=() expected=()
add() { commands+=("$1"); expected+=("$2"); }
current="" output="" joining=0 fenced=0
flush() { [[ -n $current ]] && add "$current" "$output"; current="" output=""; }
while IFS= read -r line || [[ -n $line ]]; do
  if [[ $line == '```'* ]]; then fenced=$((1 - fenced)); flush; continue; fi
  if ((fenced)) || [[ $line != '    '* ]]; then flush; joining=0; continue; fi
  code=${line#    }
  if ((joining)); then
    current+=" ${code#"${code%%[! ]*}"}"
  elif [[ $code == '$ '* ]]; then
    flush
    current=${code#'$ '}
  elif [[ -n $current ]]; then
    output+="$code"$'\n'
  elif [[ $code != *'<'* ]]; then
    # fwpack within a longer line, such as the quick start's.
    rest=$code
    while [[ -n $rest ]]; do
      part=${rest%%&&*}
      [[ $part == "$rest" ]] && rest="" || rest=${rest#*&&}
      part=${part#"${part%%[! ]*}"}
      part=${part%"${part##*[! ]}"}
      [[ $part == fwpack\ * || $part == build/bin/fwpack\ * ]] && add "$part" ""
    done
  fi
  if [[ $current == *\\ ]]; then current=${current%\\}; current=${current%"${current##*[! ]}"}; joining=1; else joining=0; fi
done <"$readme"
flush

failures=0 ran=0
for i in "${!commands[@]}"; do
  command=${commands[$i]} want=${expected[$i]}
  skip=""
  # The programs the command starts: the first word of each part of a pipe or list.
  for program in $(sed -E 's/ (\|\||&&|\|) /\n/g' <<<"$command" | awk '{ print $1 }'); do
    if [[ $program == dfu-util ]]; then skip="needs a device in DFU mode"; break; fi
    [[ $program == build/bin/fwpack ]] && continue
    command -v "$program" >/dev/null 2>&1 || { skip="needs $program, which is not installed"; break; }
  done
  if [[ -n $skip ]]; then
    echo "skipped ($skip): $command"
    [[ $skip == needs\ a\ device* || -z ${FWPACK_TEST_SKIP_LOG:-} ]] ||
      echo "README: $command: $skip" >>"$FWPACK_TEST_SKIP_LOG"
    continue
  fi
  ran=$((ran + 1))
  (cd "$work" && bash -c "$command" >"$work/.out" 2>"$work/.err" </dev/null)
  status=$?
  got=$(cat "$work/.out" "$work/.err")
  should_fail=0
  grep -E '^fwpack: ' <<<"$want" | grep -qvE '^fwpack: warning:' && should_fail=1
  problem=""
  if ((should_fail)) && ((status == 0)); then
    problem="ended with status 0, but the README shows an error"
  elif ((!should_fail)) && ((status != 0)); then
    problem="ended with status $status"
  elif [[ -n $want && $got != "${want%$'\n'}" ]]; then
    problem="printed other lines than the README shows"
  fi
  if [[ -n $problem ]]; then
    failures=$((failures + 1))
    echo "FAILED: $command"
    echo "  $problem"
    [[ -n $want ]] && printf '  README:\n%s' "$(sed 's/^/    /' <<<"${want%$'\n'}")" && echo
    printf '  printed:\n%s\n' "$(sed 's/^/    /' <<<"$got")"
  else
    echo "ok: $command"
  fi
done
echo "$ran commands run, $failures failed"
((ran > 0 && failures == 0))
