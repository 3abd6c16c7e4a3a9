#!/usr/bin/env bash
# Regenerates the code page and Unicode tables into a temporary folder and checks that the
# committed sources are the generator's output. Skips (exit 77) without the shared folder.
set -euo pipefail
root=$1
shared=$2
if [ ! -d "$shared/codepages" ] || [ ! -f "$shared/ucd/UnicodeData-5.0.0.txt" ]; then
  echo "the shared folder with the published tables is absent; skipped"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 "$root/tools/gen_codexa_tables.py" "$shared/codepages" "$shared/ucd/UnicodeData-5.0.0.txt" "$tmp"
if ! diff -r -q "$tmp" "$root/src/charset/tables"; then
  echo "the committed tables differ from the generator's output: run tools/gen_codexa_tables.py"
  exit 1
fi
echo "tables are up to date"
