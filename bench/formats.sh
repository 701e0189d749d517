#!/usr/bin/env bash
# Times the byte outputs and the UF2 reader on the 32 MiB image, each in the
# same run as its I/O floor: cp of the input, then writing an output of the
# same size as fwpack's (best of the runs):
#   -f bin within 1.2x of its floor, -f uf2 and -f dfu-plain within 1.5x,
#   and reading a UF2 file of the 32 MiB image (to -f bin) within 1.5x.
# Usage: bench/formats.sh [build directory] [runs]
# Needs srec_cat, hyperfine and GNU time (/usr/bin/time).
set -euo pipefail
bench_tools=(srec_cat)
source "$(dirname "$0")/common.sh"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "runs per figure: $runs"
echo

srec_cat -generate $base $((base + 32 * 1024 * 1024)) -random -o big.hex -intel -obs=32 -address-length=4
"$fwpack" -f uf2 big.hex -o big.uf2 2>/dev/null
sync

printf '%-28s %10s %10s %10s %10s %8s  %s\n' run "best ms" "median ms" "floor ms" "peak MiB" ratio target
row() {
  local label=$1 input=$2 output=$3 target=$4
  shift 4
  rm -f "$output"
  "$fwpack" "$@" 2>/dev/null
  local size
  size=$(stat -c %s "$output")
  read -r best median < <(timed "$fwpack" "$*")
  read -r floor _ < <(timed "sh -c 'cp $input floor.in && head -c $size /dev/zero >floor.out'")
  printf '%-28s %10s %10s %10s %10s %8s  %s\n' "$label" "$best" "$median" "$floor" "$(peak "$fwpack" "$@")" \
    "$(ratio "$best" "$floor")x" "$target"
  rm -f floor.in floor.out
}
row "big.hex -f bin" big.hex big.bin "1.2x" -f bin big.hex
row "big.hex -f dfu-plain" big.hex big.dfu "1.5x" -f dfu-plain big.hex
row "big.hex -f uf2" big.hex out.uf2 "1.5x" -f uf2 big.hex -o out.uf2
row "big.uf2 read (-f bin)" big.uf2 read.bin "1.5x" -f bin big.uf2 -o read.bin
echo "ratio: fwpack's best time over the best time of its floor (cp of the input, then an output of the same size)"
