#!/usr/bin/env bash
# A Windows DLL exports exactly the names given after it, undecorated, and nothing else: the
# export table that objdump -p prints. The counterpart of check_exports.sh for PE files.
#   check_exports_pe.sh OBJDUMP LIBRARY IMPORT-LIBRARY NAME...
set -euo pipefail
objdump=$1
lib=$2
implib=$3
shift 3
expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
# The table lists one export a line: "[   0] name".
actual=$("$objdump" -p "$lib" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $lib differ (< expected, > actual):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
# The import library that programs link names the DLL and every export.
if [ "$implib" = "$lib" ] || [ ! -f "$implib" ]; then
  echo "$lib has no import library ($implib)"
  exit 1
fi
# (objdump's table read once: grep -q would stop reading it early, failing the pipeline.)
symbols=$("$objdump" -t "$implib")
for name in "$@"; do
  if ! grep -Eq "[[:space:]]_?_imp_+${name}\$" <<<"$symbols"; then
    echo "the import library $implib lacks $name"
    exit 1
  fi
done
echo "$(printf '%s\n' "$actual" | wc -l) exports, as documented"
