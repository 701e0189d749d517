# What both benchmarks share: the build to time, the tools they need, a
# temporary directory for the inputs, timing and peak memory of a command, and
# Intel HEX files of many elements.
# Sourced by convert.sh and paths.sh with their arguments ([build directory]
# [runs]) and, in bench_tools, the tools they need beyond hyperfine and GNU time.
build=$(cd "${1:-build}" && pwd)
runs=${2:-15}
fwpack=$build/bin/fwpack
for tool in "${bench_tools[@]}" hyperfine /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is needed" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
base=0x08000000

# The best and the median wall time of a command in milliseconds, as "best
# median". The best is the figure to compare on a busy machine: other work
# only ever adds to a run. PREPARE, when set, runs before each run.
timed() {
  local prepare=()
  [[ -n ${PREPARE:-} ]] && prepare=(--prepare "$PREPARE")
  hyperfine -N --style none --warmup 1 --runs "$runs" "${prepare[@]}" --export-csv times.csv "$*" >/dev/null 2>&1
  awk -F, 'NR == 2 { printf "%.1f %.1f\n", $7 * 1000, $4 * 1000 }' times.csv
}

# The peak resident memory of a command in MiB.
peak() {
  /usr/bin/time -f '%M' -o peak.txt "$@" >/dev/null 2>&1
  awk '{ printf "%.1f\n", $1 / 1024 }' peak.txt
}

# `count` elements of `size` random bytes, one every `stride` bytes from
# 0x08000000, in Intel HEX records of up to 32 bytes: as prefix.hex, or split
# into `files` files prefix0.hex, prefix1.hex, ... of count / files elements.
elements() {
  awk -v count="$1" -v size="$2" -v stride="$3" -v files="$4" -v prefix="$5" 'BEGIN {
    srand(1); per = int(count / files); f = -1
    for (e = 0; e < count; ++e) {
      if (int(e / per) != f) {
        if (f >= 0) { print ":00000001FF" > out; close(out) }
        f = int(e / per); out = (files == 1 ? prefix ".hex" : sprintf("%s%d.hex", prefix, f)); upper = -1
      }
      address = 134217728 + e * stride
      for (done = 0; done < size; done += n) {
        a = address + done; n = size - done; if (n > 32) n = 32
        if (int(a / 65536) != upper) {
          upper = int(a / 65536); s = 6 + int(upper / 256) + upper % 256
          printf ":02000004%04X%02X\n", upper, (256 - s % 256) % 256 > out
        }
        low = a % 65536; s = n + int(low / 256) + low % 256; line = sprintf(":%02X%04X00", n, low)
        for (i = 0; i < n; ++i) { b = int(rand() * 256); s += b; line = line sprintf("%02X", b) }
        printf "%s%02X\n", line, (256 - s % 256) % 256 > out
      }
    }
    print ":00000001FF" > out; close(out)
  }'
}
