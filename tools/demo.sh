#!/usr/bin/env bash
# The demo: a bundled text file (ISO 8859-1) goes to EBCDIC 1047 and back with cpconv, and the
# round trip is checked byte for byte.
set -euo pipefail
bin=$1
root=$(cd "$(dirname "$0")/.." && pwd)
sample="$root/examples/sample.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Sample (ISO 8859-1, shown as UTF-8):"
"$bin/cpconv" -f 819 -t utf-8 "$sample" | sed 's/^/  /'
"$bin/cpconv" -f 819 -t 1047 --newline nl -o "$work/sample.ebcdic" "$sample"
echo
echo "As EBCDIC 1047 with NL line ends (first 64 bytes):"
od -A x -t x1 -N 64 "$work/sample.ebcdic" | sed 's/^/  /'
"$bin/cpconv" -f 1047 -t 819 --newline lf -o "$work/sample.back" "$work/sample.ebcdic"
if cmp -s "$sample" "$work/sample.back"; then
  echo
  echo "Round trip 819 -> 1047 -> 819: exact ($(wc -c <"$sample") bytes)."
else
  echo "Round trip differs:" >&2
  cmp "$sample" "$work/sample.back" >&2 || true
  exit 1
fi
