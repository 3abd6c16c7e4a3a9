#!/usr/bin/env bash
# The library exports exactly its documented names and nothing else.
set -euo pipefail
lib=$1
expected="ConvertFromBase64
ConvertToBase64
eConvert
pCharsetLoad
pCharsetLoadCCSID
pConversionBuild
pDecompUnicode
uGetCodePageEnv
uUnicodeCtype
uUnicodeNumber
uUnicodeToLower
uUnicodeToUpper
vCharsetDisableEuro
vCharsetEnableEuro
vCharsetFree
vCharsetMask3270
vCharsetSetSubChar
vCharsetSwapNewLine
vConversionFree"
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | LC_ALL=C sort)
if [ "$actual" != "$(printf '%s\n' "$expected" | LC_ALL=C sort)" ]; then
  echo "exports of $lib differ:"
  diff <(printf '%s\n' "$expected" | LC_ALL=C sort) <(printf '%s\n' "$actual") || true
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exports, as documented"
