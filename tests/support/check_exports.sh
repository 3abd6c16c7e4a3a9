#!/usr/bin/env bash
# A library exports exactly the names given after it, and nothing else.
#   check_exports.sh LIBRARY NAME...
set -euo pipefail
lib=$1
shift
expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $lib differ (< expected, > actual):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exports, as documented"
