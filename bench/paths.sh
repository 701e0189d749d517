#!/usr/bin/env bash
# Times fwpack on the paths besides the main conversion, each beside its
# nearest peer in the same run, and prints one line per row:
#   .dfu -> Intel HEX and -> S-records, 32 MiB, against objcopy on the same
#     image as a .bin; --info on a DfuSe file of 1 M elements against
#     `dfu-suffix -c`; --add of 1000 inputs of 1000 elements against the same
#     elements in one file; the peak memory of --add of 100 inputs of 256 KiB,
#     of 1 M small elements and of a 32 MiB .dfu input; HEX -> DfuSe, 32 MiB,
#     over an existing output, against objcopy; --compare of a 32 MiB .dfu
#     against its readback, against cat of both; --map of 1 M elements against
#     the same run without it, and the XML elements of the pictures; and how
#     the time grows with
#     ten times the elements, the inputs and the targets.
# Usage: bench/paths.sh [build directory] [runs]
# Needs srec_cat, objcopy, dfu-suffix, hyperfine and GNU time
# (/usr/bin/time). The inputs (about 0.6 GB) go to a temporary directory that
# is removed at the end.
set -euo pipefail
bench_tools=(srec_cat objcopy dfu-suffix)
source "$(dirname "$0")/common.sh"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { printf '%-44s %9s %9s   %-34s %9s %9s   %s\n' "$@"; }

# The arguments that make inputs prefix0.hex .. prefix(n-1).hex one target
# (--add) or n targets (-t).
joined() {
  local option=$1 prefix=$2 n=$3 i
  printf '%s\n' "${prefix}0.hex"
  for ((i = 1; i < n; ++i)); do printf '%s\n%s\n' "$option" "$prefix$i.hex"; done
}

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "runs per figure: $runs; times in ms (best, median), memory in MiB"
echo "making the inputs..."
srec_cat -generate $base $((base + 32 * 1024 * 1024)) -random -o big.hex -intel -obs=32 -address-length=4
objcopy -I ihex -O binary big.hex big.bin
"$fwpack" big.hex big.dfu 2>/dev/null
elements 1000000 16 32 1 e1m
elements 100000 16 32 1 e100k
elements 1000000 16 32 1000 in
"$fwpack" e1m.hex e1m.dfu 2>/dev/null
"$fwpack" e100k.hex e100k.dfu 2>/dev/null
for ((i = 0; i < 100; ++i)); do
  a=$((base + i * 262144))
  srec_cat -generate $a $((a + 262144)) -random -o "q$i.hex" -intel -obs=32 -address-length=4
done
srec_cat -generate $base $((base + 100 * 262144)) -random -o q.hex -intel -obs=32 -address-length=4
: >empty.hex
sync
echo

row path best median peer best median "fwpack over the peer (best, median)"
compare() {  # name, fwpack command, peer name, peer command
  local name=$1 ours=$2 peer=$3 theirs=$4
  read -r b m < <(eval timed "$ours")
  read -r pb pm < <(eval timed "$theirs")
  row "$name" "$b" "$m" "$peer" "$pb" "$pm" "$(ratio "$pb" "$b")x, $(ratio "$pm" "$m")x faster"
}
compare ".dfu -> HEX, 32 MiB" "$fwpack -f hex big.dfu out.hex" \
  "objcopy -I binary -O ihex" "objcopy -I binary -O ihex --change-addresses $base big.bin obj.hex"
compare ".dfu -> S-records, 32 MiB" "$fwpack -f srec big.dfu out.srec" \
  "objcopy -I binary -O srec" "objcopy -I binary -O srec --change-addresses $base big.bin obj.srec"
compare "--info, 1 M elements ($(($(stat -c %s e1m.dfu) / 1000000)) MB)" "$fwpack --info e1m.dfu" \
  "dfu-suffix -c" "dfu-suffix -c e1m.dfu"
mapfile -t add1000 < <(joined --add in 1000)
read -r b m < <(timed "$fwpack" "${add1000[@]}" add.dfu)
read -r pb pm < <(timed "$fwpack" e1m.hex one.dfu)
row "--add, 1000 inputs x 1000 elements" "$b" "$m" "the same elements in one file" "$pb" "$pm" \
  "$(ratio "$b" "$pb")x, $(ratio "$m" "$pm")x the time (goal: 1.5x at most)"
compare "HEX -> DfuSe, 32 MiB, over an existing output" "$fwpack big.hex big.dfu" \
  "objcopy -I ihex -O binary" "objcopy -I ihex -O binary big.hex obj.bin"
read -r b m < <(timed "$fwpack" --compare big.dfu big.bin -b $base)
read -r pb pm < <(timed sh -c "cat big.dfu big.bin >/dev/null")
row "--compare, 32 MiB .dfu against a readback" "$b" "$m" "cat of both to /dev/null" "$pb" "$pm" \
  "$(ratio "$b" "$pb")x, $(ratio "$m" "$pm")x the time (goal: 1.5x at most)"
# --map beside the same run without it; the goal is the whole run's.
map_row() {  # name, command with --map, command without
  read -r b m < <(eval timed "$2")
  read -r pb pm < <(eval timed "$3")
  row "$1" "$b" "$m" "the same without --map" "$pb" "$pm" "goal: under 1000 ms"
}
map_row "--map, 1 M elements, --info" '$fwpack --info e1m.dfu --map e1m.svg' '$fwpack --info e1m.dfu'
map_row "--map, 1 M elements, a conversion" '$fwpack e1m.dfu -o again.dfu --map e1m.svg' '$fwpack e1m.dfu -o again.dfu'
"$fwpack" --info e1m.dfu --layout "@Flash /0x08000000/2048*016Kg" --map e1m-layout.svg >/dev/null
for svg in e1m.svg e1m-layout.svg; do
  row "--map, 1 M elements: XML elements in $svg" "$(grep -o '<[a-zA-Z]' "$svg" | wc -l)" "" "goal" "5000" "" \
    "at most ($(($(stat -c %s "$svg") / 1024)) KiB)"
done
echo

row "peak memory" MiB "" "against" MiB "" ""
empty=$(peak "$fwpack" empty.hex)
mapfile -t add100 < <(joined --add q 100)
row "--add, 100 inputs x 256 KiB" "$(peak "$fwpack" "${add100[@]}" q.dfu)" "" "one file; goal" \
  "$(peak "$fwpack" q.hex q.dfu)" "33.0" "(the image of 25 MiB + 8 MiB)"
e1m_peak=$(peak "$fwpack" e1m.hex e1m.dfu)
per=$(awk -v p="$e1m_peak" -v e="$empty" 'BEGIN { printf "%.1f", (p - e - 16000000 / 1048576) * 1048576 / 1000000 }')
row "1 M elements of 16 bytes" "$e1m_peak" "" "an empty input; bytes per element" "$empty" "$per" "(goal: 40 at most)"
row ".dfu input, 32 MiB" "$(peak "$fwpack" big.dfu again.dfu)" "" "from .bin; goal" \
  "$(peak "$fwpack" -b $base big.bin again.dfu)" "40.0" "(the image + 8 MiB)"
row ".dfu -> HEX, 32 MiB" "$(peak "$fwpack" -f hex big.dfu out.hex)" "" "" "" "" ""
echo

# Ten times the work: the best time of each of a pair of runs, their ratio,
# the ratio net of the start of the process (the time for an empty input),
# and, where valgrind is installed, the ratio of the instructions executed,
# which a busy machine does not disturb.
read -r start _ < <(timed "$fwpack" empty.hex)
echo "an empty input, the start of the process: $start ms"
row "growth, ten times the work (goal: 11x at most)" small large "" "large / small" "net" "instructions"
instructions() {
  command -v valgrind >/dev/null || { echo 0; return; }
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*refs: *//p' | tr -d ,
}
growth() {  # name, small command, large command
  read -r s _ < <(eval timed "$2")
  read -r l _ < <(eval timed "$3")
  local is il
  is=$(eval instructions "$2"); il=$(eval instructions "$3")
  row "$1" "$s" "$l" "" "$(ratio "$l" "$s")x" \
    "$(awk -v s="$s" -v l="$l" -v z="$start" 'BEGIN { printf "%.2fx", (l - z) / (s - z) }')" \
    "$([[ $is != 0 ]] && ratio "$il" "$is")x"
}
growth "elements: HEX -> DfuSe, 100 k -> 1 M" "$fwpack e100k.hex e.dfu" "$fwpack e1m.hex e.dfu"
growth "elements: --info, 100 k -> 1 M" "$fwpack --info e100k.dfu" "$fwpack --info e1m.dfu"
growth "elements: .dfu -> HEX, 100 k -> 1 M" "$fwpack -f hex e100k.dfu e.hex" "$fwpack -f hex e1m.dfu e.hex"
mapfile -t add100 < <(joined --add in 100)
mapfile -t t25 < <(joined -t in 25)
mapfile -t t250 < <(joined -t in 250)
growth "inputs: --add, 100 -> 1000 of 1000 elements" '$fwpack "${add100[@]}" add.dfu' '$fwpack "${add1000[@]}" add.dfu'
growth "targets: 25 -> 250 of 1000 elements" '$fwpack "${t25[@]}" t.dfu' '$fwpack "${t250[@]}" t.dfu'
