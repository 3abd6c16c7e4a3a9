#!/usr/bin/env bash
# The demo: a small TSO TRANSMIT file of a partitioned data set is made from the files in
# examples/pds, then opx describes it and lists its members; and a text file goes to EBCDIC
# 1047 and back with cpconv, checked byte for byte.
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { if [ -t 1 ]; then printf '\n\033[1m$ %s\033[0m\n' "$*"; else printf '\n$ %s\n' "$*"; fi; }

xmit="$work/demo.xmit"
# bren takes the members through one pattern; links of one suffix stand for the files.
mkdir -p "$work/src"
for f in "$root/examples/pds/"*; do ln -s "$f" "$work/src/$(basename "${f%.*}").txt"; done
step "bren create demo.xmit --dsn OPX.DEMO.SOURCE --blksize 3120 --message message.txt 'src/&M.txt'"
(cd "$work" && "$bin/bren" create demo.xmit --dsn OPX.DEMO.SOURCE --blksize 3120 \
  --message "$root/examples/message.txt" 'src/&M.txt')
echo "Made $(basename "$xmit") ($(wc -c <"$xmit") bytes) from the files in examples/pds."

step opx info demo.xmit
(cd "$work" && "$bin/opx" info demo.xmit)
step opx list demo.xmit
(cd "$work" && "$bin/opx" list demo.xmit)
step opx list --json demo.xmit
(cd "$work" && "$bin/opx" list --json demo.xmit | head -n 24)

step opx extract demo.xmit -o members/ --strip
(cd "$work" && "$bin/opx" extract demo.xmit -o members/ --strip)
echo "What it wrote:"
(cd "$work/members" && for f in *; do printf '  %-10s %3s lines  %s\n' "$f" "$(wc -l <"$f")" "$(head -n 1 "$f")"; done)

sample="$root/examples/sample.txt"
step cpconv -f 819 -t 1047 --newline nl sample.txt
"$bin/cpconv" -f 819 -t 1047 --newline nl -o "$work/sample.ebcdic" "$sample"
echo "As EBCDIC 1047 with NL line ends (first 64 bytes):"
od -A x -t x1 -N 64 "$work/sample.ebcdic" | sed 's/^/  /'
"$bin/cpconv" -f 1047 -t 819 --newline lf -o "$work/sample.back" "$work/sample.ebcdic"
if cmp -s "$sample" "$work/sample.back"; then
  echo "Round trip 819 -> 1047 -> 819: exact ($(wc -c <"$sample") bytes)."
else
  echo "Round trip differs:" >&2
  cmp "$sample" "$work/sample.back" >&2 || true
  exit 1
fi

# ---- ufx: the update utility -----------------------------------------------------------------
# A copy of the sample's members gets sequence numbers, then a deck replaces a record by its
# number, inserts another and adds a member; the listings go to standard output.
mkdir -p "$work/upd"
cp "$root/examples/pds/"*.asm "$work/upd/"
step "ufx --sysin number.txt --sysprint - --sysut1 'upd/&M.asm' --sysut2 'upd/&M.asm'"
(cd "$work" && "$bin/ufx" --sysin "$root/examples/update/number.txt" --sysprint - \
  --sysut1 'upd/&M.asm' --sysut2 'upd/&M.asm')
step "ufx --sysin change.txt --sysprint - --sysut1 'upd/&M.asm' --sysut2 'upd/&M.asm'"
(cd "$work" && "$bin/ufx" --sysin "$root/examples/update/change.txt" --sysprint - \
  --sysut1 'upd/&M.asm' --sysut2 'upd/&M.asm')
step cat upd/ASMSAMP.asm upd/ASMEXIT.asm
cat "$work/upd/ASMSAMP.asm" "$work/upd/ASMEXIT.asm"
