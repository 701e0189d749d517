#!/usr/bin/env bash
# Times fwpack on a large generated image (32 MiB of random bytes, as Intel HEX
# with 32-byte records and as S3 records) beside objcopy reading the same file,
# and reports wall time and peak memory of each.
# Usage: bench/convert.sh [build directory]    (needs srec_cat, objcopy, GNU time)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

srec_cat -generate 0x08000000 0x0A000000 -random -o big.hex -intel -obs=32 -address-length=4
# No record count: the reader knows S5 records only, not the 24-bit S6.
srec_cat -disable=data-count big.hex -intel -o big.srec -motorola -obs=32 -address-length=4
printf '%-34s %10s %12s\n' "run" "seconds" "peak MiB"
measure() {
  local label=$1; shift
  /usr/bin/time -f '%e %M' -o time.txt "$@" >/dev/null 2>&1
  read -r seconds kib < time.txt
  printf '%-34s %10s %12d\n' "$label" "$seconds" $((kib / 1024))
}
for round in 1 2 3; do
  measure "fwpack big.hex ($round)" "$build/bin/fwpack" big.hex
  measure "objcopy -I ihex -O binary ($round)" objcopy -I ihex -O binary big.hex big.bin
  measure "fwpack big.srec ($round)" "$build/bin/fwpack" big.srec
  measure "objcopy -I srec -O binary ($round)" objcopy -I srec -O binary big.srec big.bin
done
