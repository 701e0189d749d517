#!/usr/bin/env bash
# Times fwpack on generated images of random bytes beside objcopy, srec_cat and
# cp, and prints the wall times (best and median of several runs), the peak
# memory and the ratios, for four targets:
#   1. a 32 MiB image as Intel HEX and as S3 records: fwpack against objcopy
#      reading the same file to a binary, in the same run;
#   2. the peak memory of fwpack against the image plus 8 MiB;
#   3. a 256 KiB image in under 5 ms, process start included;
#   4. the time per MiB for images of 1, 8, 32 and 128 MiB.
# Usage: bench/convert.sh [build directory] [runs]
# Needs srec_cat, objcopy, hyperfine and GNU time (/usr/bin/time). The inputs
# (about 0.5 GB) go to a temporary directory that is removed at the end.
set -euo pipefail
bench_tools=(srec_cat objcopy)
source "$(dirname "$0")/common.sh"
# An image of `kib` KiB of random bytes at 0x08000000 in 32-byte records with
# 32-bit addresses, as name.hex and, unless a third argument says "hex",
# name.srec (S3 records without a record count: the reader knows S5 records
# only, not the 24-bit S6).
generate() {
  local name=$1 kib=$2
  srec_cat -generate $base $((base + kib * 1024)) -random -o "$name.hex" -intel -obs=32 -address-length=4
  [[ ${3:-} == hex ]] || srec_cat -disable=data-count "$name.hex" -intel -o "$name.srec" -motorola -obs=32 -address-length=4
  # On disk before any timing: writing fresh files back would slow the runs.
  sync
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "runs per figure: $runs (srec_cat: 3)"
echo

echo "== 1, 2. 32 MiB image"
generate big $((32 * 1024))
printf '%-10s %-9s %10s %10s %10s  %s\n' input program "best ms" "median ms" "peak MiB" "objcopy / program (best, median)"
for format in hex srec; do
  bfd=$([[ $format == hex ]] && echo ihex || echo srec)
  srec_format=$([[ $format == hex ]] && echo -intel || echo)
  read -r obj_best obj_median < <(timed objcopy -I "$bfd" -O binary "big.$format" big.bin)
  obj_peak=$(peak objcopy -I "$bfd" -O binary "big.$format" big.bin)
  read -r fw_best fw_median < <(timed "$fwpack" "big.$format")
  fw_peak=$(peak "$fwpack" "big.$format")
  read -r cp_best cp_median < <(timed cp "big.$format" copy.txt)
  cp_peak=$(peak cp "big.$format" copy.txt)
  saved=$runs; runs=3
  # shellcheck disable=SC2086
  read -r sc_best sc_median < <(timed srec_cat "big.$format" $srec_format -offset -$base -o big.bin -binary)
  # shellcheck disable=SC2086
  sc_peak=$(peak srec_cat "big.$format" $srec_format -offset -$base -o big.bin -binary)
  runs=$saved
  row() { printf '%-10s %-9s %10s %10s %10s  %s\n' "big.$format" "$1" "$2" "$3" "$4" "$(ratio "$obj_best" "$2")x, $(ratio "$obj_median" "$3")x"; }
  row fwpack "$fw_best" "$fw_median" "$fw_peak"
  # Without an earlier output to write over: the file system hands out new blocks.
  read -r new_best new_median < <(PREPARE="rm -f big.dfu" timed "$fwpack" "big.$format")
  row "fwpack*" "$new_best" "$new_median" "$fw_peak"
  row objcopy "$obj_best" "$obj_median" "$obj_peak"
  row srec_cat "$sc_best" "$sc_median" "$sc_peak"
  row cp "$cp_best" "$cp_median" "$cp_peak"
done
echo "fwpack*: the output file removed before each run, so that it is created anew"
echo "target 1: fwpack at least 8x faster than objcopy; target 2: peak at most 32 + 8 = 40 MiB"
echo

echo "== 3. 256 KiB image, process start included"
generate small 256
saved=$runs; runs=$((runs < 10 ? 40 : 4 * runs))
read -r best median < <(timed "$fwpack" small.hex)
read -r sbest smedian < <(timed "$fwpack" small.srec)
read -r obest omedian < <(timed objcopy -I ihex -O binary small.hex small.bin)
printf '%-12s %10s %10s\n' program "best ms" "median ms"
printf '%-12s %10s %10s\n' "fwpack hex" "$best" "$median" "fwpack srec" "$sbest" "$smedian" "objcopy hex" "$obest" "$omedian"
echo "target 3: under 5 ms"
echo

echo "== 4. Time per MiB (Intel HEX), and net of the start of the process"
: >empty.hex
read -r start_best start_median < <(timed "$fwpack" empty.hex)
runs=$saved
echo "an empty input, the cost of starting the process: best $start_best ms, median $start_median ms"
printf '%8s %10s %10s %14s %14s %10s\n' MiB "best ms" "median ms" "best ms/MiB" "net ms/MiB" "peak MiB"
lines=()
for mib in 1 8 32 128; do
  generate "lin$mib" $((mib * 1024)) hex
  read -r best median < <(timed "$fwpack" "lin$mib.hex")
  mem=$(peak "$fwpack" "lin$mib.hex")
  per=$(awk -v t="$best" -v m="$mib" 'BEGIN { printf "%.2f", t / m }')
  net=$(awk -v t="$best" -v s="$start_best" -v m="$mib" 'BEGIN { printf "%.2f", (t - s) / m }')
  printf '%8s %10s %10s %14s %14s %10s\n' "$mib" "$best" "$median" "$per" "$net" "$mem"
  lines+=("$per $net")
  rm -f "lin$mib.hex" "lin$mib.dfu"
done
printf '%s\n' "${lines[@]}" | awk '
  { per[NR] = $1; net[NR] = $2; sp += $1; sn += $2 }
  END {
    for (i = 1; i <= NR; ++i) {
      dp = per[i] / (sp / NR) - 1; dn = net[i] / (sn / NR) - 1
      if (dp < 0) dp = -dp; if (dn < 0) dn = -dn
      if (dp > mp) mp = dp; if (dn > mn) mn = dn
    }
    printf "largest deviation from the mean time per MiB: %.0f%%; net of the process start: %.0f%%\n", mp * 100, mn * 100
  }'
echo "target 4: within 25%"
echo

echo "== 5. Element storage: many elements of every size"
elements 3000 $((17 * 1024)) $((32 * 1024)) 1 e17k
elements 3000 $((15 * 1024)) $((32 * 1024)) 1 e15k
elements 1 $((3000 * 17 * 1024)) 0 1 one
elements 1000000 4 8 1 e1m
: >empty.hex
printf '%-32s %10s %10s %10s\n' input "best ms" "median ms" "peak MiB"
for input in e17k one e15k e1m empty; do
  read -r best median < <(timed "$fwpack" "$input.hex")
  printf '%-32s %10s %10s %10s\n' "$input.hex ($(grep -c '^:..........' "$input.hex") records)" "$best" "$median" \
    "$(peak "$fwpack" "$input.hex")"
done
echo "target: 3,000 elements of 17 KiB in under 100 ms, close to the same bytes as one element"
