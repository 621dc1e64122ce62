#!/usr/bin/env bash
# Passes CTest's output through from standard input and appends its totals to FILE as
# "LABEL: 45 of 45 tests passed" (or "LABEL: no CTest totals" when the run printed none).
#   ctest ... | scripts/ctest-totals.sh FILE LABEL
set -euo pipefail
file=$1 label=$2
copy=$(mktemp)
trap 'rm -f "$copy"' EXIT
tee "$copy"
totals=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$copy" |
  tail -n1 | awk '{ print $2 - $1 " of " $2 " tests passed" }')
echo "$label: ${totals:-no CTest totals}" >>"$file"
