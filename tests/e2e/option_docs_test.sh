#!/usr/bin/env bash
# Every option of fwpack's option table (as `fwpack --help` lists it, which
# is made from the table) is described in the manual page and in the usage
# reference. Arguments: the manual page's source, the usage reference, fwpack.
set -u
page=$1 reference=$2 fwpack=$3
help=$("$fwpack" --help) || { echo "FAILED: $fwpack --help"; exit 1; }
options=$(grep -oE '^ +(-[a-zA-Z], )?--[a-z0-9-]+' <<<"$help" | grep -oE -- '--[a-z0-9-]+')
failures=0
for option in $options; do
  # The manual page writes each dash as \-.
  grep -qF -- "${option//-/\\-}" "$page" || { echo "FAILED: $option is not in the manual page"; ((failures++)); }
  grep -qF -- "\`$option" "$reference" || { echo "FAILED: $option is not in the usage reference"; ((failures++)); }
done
((failures == 0)) && echo "option docs: $(wc -w <<<"$options") options in the manual page and the usage reference"
((failures == 0))
