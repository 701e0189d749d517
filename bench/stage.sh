#!/usr/bin/env bash
# Times the image stage: a 32 MiB image of random bytes cut into 64 elements
# with holes of 4 KiB between them, converted as it is, and with its holes
# filled and its CRC-32 written behind it (--fill all --crc32 ADDR), beside
# srec_cat doing the same in one run (its fill and CRC-32 filters, writing
# the flat binary, its fastest output). Prints the best and median wall times
# and the ratios, for two targets: the stage within 1.5x of the plain
# conversion, and at least 10x faster than srec_cat.
# Usage: bench/stage.sh [build directory] [runs]
# Needs srec_cat, hyperfine and GNU time (/usr/bin/time). The inputs (about
# 100 MB) go to a temporary directory that is removed at the end.
set -euo pipefail
bench_tools=(srec_cat)
source "$(dirname "$0")/common.sh"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { printf '%-40s %9s %9s   %s\n' "$@"; }

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "runs per figure: $runs (srec_cat: 3); times in ms"
size=$((512 * 1024))
stride=$((size + 4096))
elements 64 $size $stride 1 cut
end=$((base + 63 * stride + size))
crc=$(printf '0x%X' "$end")
"$fwpack" cut.hex cut.dfu 2>/dev/null
sync
echo

row command best median "ratio (best, median)"
read -r plain_best plain_median < <(timed "$fwpack" cut.hex cut.dfu)
read -r stage_best stage_median < <(timed "$fwpack" cut.hex cut.dfu --fill all --crc32 "$crc")
saved=$runs; runs=3
read -r sc_best sc_median < <(timed srec_cat cut.hex -intel -fill 0xFF $base "$end" -crc32-l-e "$crc" \
  -offset -$base -o cut.bin -binary)
runs=$saved
row "fwpack, plain" "$plain_best" "$plain_median" ""
row "fwpack --fill all --crc32 ADDR" "$stage_best" "$stage_median" \
  "$(ratio "$stage_best" "$plain_best")x, $(ratio "$stage_median" "$plain_median")x the plain conversion (goal: 1.5x at most)"
row "srec_cat -fill -crc32-l-e, binary" "$sc_best" "$sc_median" \
  "$(ratio "$sc_best" "$stage_best")x, $(ratio "$sc_median" "$stage_median")x the stage's time (goal: 10x at least)"
