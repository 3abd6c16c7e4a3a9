#!/usr/bin/env bash
# What is Windows' own in the command-line programs, run under Wine:
#   windows_cli.sh EMULATOR BIN-FOLDER LINUX-OPX SHARED-FOLDER
# - paths with a drive letter and backslashes, and member patterns with &M after a backslash;
# - a round trip: bren.exe builds a partitioned data set from text files with CR LF line ends,
#   opx.exe lists it and extracts it, and the texts come back equal, with CR LF again (text
#   written in text mode), or LF when asked; LF sources give the same members;
# - cpconv.exe passes bytes through standard input and output unchanged (binary mode);
# - ufx.exe updates a folder of members named by a Windows pattern, with its listing as text;
# - the corpus transmit files and tape images give the same `opx info` and `opx list --json`
#   (output, messages and exit status) as the Linux opx; blocks compressed with zlib are read,
#   those compressed with bzip2 (which the Windows build lacks) are refused with a message;
# - a relink into a folder whose name has blanks: vrl.exe is started with quoted arguments.
set -uo pipefail
emulator=$1
# Full paths: the checks change folders.
bin=$(cd "$2" && pwd) || exit 1
linux_opx=$(realpath "$3") || exit 1
shared=$4
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0

# check NAME COMMAND...: runs the command; a failure is counted and reported.
check() {
  local name=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok: $name"
  else
    echo "FAILED: $name" >&2
    failures=$((failures + 1))
  fi
}

# The Windows path of a Linux path: Wine's drive Z: is the root, with backslashes.
winpath() {
  printf 'Z:%s' "${1//\//\\}"
}

# win PROGRAM ARG...: runs a program of the build.
win() {
  local program=$1
  shift
  "$emulator" "$bin/$program.exe" "$@"
}

crlf() { printf '%s\r\n' "$@"; }

# ---- bren and opx: a round trip through Windows paths -------------------------------------------
mkdir -p "$work/src" "$work/lf" "$work/out" "$work/outlf"
crlf "//HELLO    JOB (ACCT),'WINDOWS'" "//STEP1    EXEC PGM=IEFBR14" >"$work/src/HELLO.txt"
crlf "         TITLE 'A MEMBER'" "         END" "" "* after an empty line" >"$work/src/ALPHA.txt"
crlf "ONE LINE WITHOUT AN END" >"$work/src/BETA.txt"
truncate -s -2 "$work/src/BETA.txt" # the last line has no line end
for f in HELLO ALPHA BETA; do tr -d '\r' <"$work/src/$f.txt" >"$work/lf/$f.txt"; done

pds=$(winpath "$work/pds.xmi")
srcpattern="$(winpath "$work/src")\\&M.txt"
build() {
  SOURCE_DATE_EPOCH=1700000000 win bren create "$pds" --dsn USER.WINDOWS.TEXT --from node1.user1 \
    "$srcpattern" >"$work/bren.out" 2>"$work/bren.err"
}
check "bren.exe builds a PDS from Z:\\...\\src\\&M.txt" build
listed() {
  win opx list "$pds" >"$work/list.out" 2>"$work/list.err" &&
    for m in ALPHA BETA HELLO; do grep -q "^$m " <(tr -d '\r' <"$work/list.out") || return 1; done
}
check "opx.exe lists the three members" listed
listed_json() {
  win opx list --json "$pds" | tr -d '\r' | python3 -c '
import json, sys
doc = json.load(sys.stdin)
names = sorted(m["name"] for m in doc["members"])
sys.exit(0 if names == ["ALPHA", "BETA", "HELLO"] else 1)'
}
check "opx.exe list --json names them" listed_json
# A path that begins with a slash (the current drive's root) is a file, never a /option.
slash_path() {
  win opx list "$work/pds.xmi" | tr -d '\r' | grep -q "^HELLO "
}
check "opx.exe takes /path as a file, not as an option" slash_path
extract_native() {
  win opx extract "$pds" --strip -o "$(winpath "$work/out")\\&M.txt" >"$work/x.out" 2>"$work/x.err"
}
check "opx.exe extracts into Z:\\...\\out\\&M.txt" extract_native
# Text in text mode (the trailing blanks of the fixed records stripped): the lines come back
# with CR LF, as they went in (the last line gets its line end, as every extracted record does).
same_texts() {
  cmp "$work/src/HELLO.txt" "$work/out/HELLO.txt" && cmp "$work/src/ALPHA.txt" "$work/out/ALPHA.txt" &&
    [ "$(cat "$work/out/BETA.txt")" = "$(printf 'ONE LINE WITHOUT AN END\r')" ]
}
check "the extracted texts equal the sources, with CR LF line ends" same_texts
extract_lf() {
  win opx extract "$pds" --strip --line-end lf -o "$(winpath "$work/outlf")/&m.txt" >/dev/null 2>&1 &&
    cmp "$work/lf/HELLO.txt" "$work/outlf/hello.txt" && cmp "$work/lf/ALPHA.txt" "$work/outlf/alpha.txt" &&
    ! grep -q $'\r' "$work/outlf/beta.txt"
}
check "--line-end lf writes LF, through a pattern with a forward slash and &m" extract_lf
# Reading text accepts both line ends: LF sources give the same transmit file.
same_from_lf() {
  cd "$work" || return 1
  SOURCE_DATE_EPOCH=1700000000 win bren create pdslf.xmi --dsn USER.WINDOWS.TEXT \
    --from node1.user1 'lf\&M.txt' >/dev/null 2>&1 && cmp "$work/pds.xmi" "$work/pdslf.xmi"
}
check "LF sources through a relative pattern lf\\&M.txt give the same transmit file" same_from_lf
# The origin defaults to this computer and user (GetComputerNameA, GetUserNameA).
default_origin() {
  win bren create "$(winpath "$work/seq.xmi")" --dsn USER.SEQ "$(winpath "$work/lf/HELLO.txt")" &&
    win opx info --json "$(winpath "$work/seq.xmi")" | tr -d '\r' | python3 -c '
import json, sys
origin = json.load(sys.stdin)["origin"]
sys.exit(0 if origin["node"].strip() and origin["user"].strip() else 1)'
}
check "bren.exe takes the computer and user names as the origin" default_origin

# ---- cpconv: files with Windows paths, bytes through standard input and output -----------------
convert() {
  printf 'line one\nline two\r\n\x1a after a Ctrl-Z\n' >"$work/in.txt"
  win cpconv -f 819 -t 1047 -o "$(winpath "$work/in.ebc")" "$(winpath "$work/in.txt")" &&
    win cpconv -f 1047 -t 819 -o "$(winpath "$work/back.txt")" "$(winpath "$work/in.ebc")" &&
    cmp "$work/in.txt" "$work/back.txt" &&
    win cpconv -f 819 -t 819 <"$work/in.txt" >"$work/piped.txt" && cmp "$work/in.txt" "$work/piped.txt"
}
check "cpconv.exe round trip through Z:\\ paths, and bytes unchanged through a pipe" convert

# ---- ufx: members in a folder named with a drive letter and backslashes --------------------------
update() {
  mkdir -p "$work/lib"
  printf './ ADD NAME=HELLO\n./ NUMBER NEW1=10,INCR=10\nLINE ONE\nLINE TWO\n./ ENDUP\n' >"$work/deck"
  win ufx --parm NEW --sysin "$(winpath "$work/deck")" --sysprint "$(winpath "$work/list.txt")" \
    --sysut2 "$(winpath "$work/lib")\\&m.txt" >/dev/null 2>&1 &&
    [ "$(tr -d '\r' <"$work/lib/hello.txt")" = "$(printf 'LINE ONE%64s00000010\nLINE TWO%64s00000020' '' '')" ] &&
    grep -q $'KDU818I Highest condition code was 0\r$' "$work/list.txt"
}
check "ufx.exe writes a member through Z:\\...\\lib\\&m.txt and a CR LF listing" update
vrl_runs() { win vrl --help >/dev/null; }
check "vrl.exe starts" vrl_runs

# ---- the corpus: the same opx info and opx list --json as on Linux -------------------------------
if [ -d "$shared/corpus/xmit" ]; then
  cd "$shared/corpus" || exit 1
  same_as_linux() {
    local file=$1 command=$2
    shift 2
    local lo le wo we ls=0 ws=0
    lo=$("$linux_opx" "$command" "$@" "$file" 2>"$work/le") || ls=$?
    wo=$(win opx "$command" "$@" "$file" 2>"$work/we" | tr -d '\r'; exit "${PIPESTATUS[0]}") || ws=$?
    le=$(cat "$work/le")
    we=$(tr -d '\r' <"$work/we")
    if [ "$lo" != "$wo" ] || [ "$le" != "$we" ] || [ "$ls" != "$ws" ]; then
      echo "$file: opx $command $* differs (exit $ls on Linux, $ws on Windows)" >&2
      diff <(printf '%s\n%s\n' "$lo" "$le") <(printf '%s\n%s\n' "$wo" "$we") | head -20 >&2
      return 1
    fi
  }
  while IFS= read -r file; do
    check "corpus $file: opx info" same_as_linux "$file" info
    check "corpus $file: opx list --json" same_as_linux "$file" list --json
  done < <(find xmit tape -type f | LC_ALL=C sort)

  # The corpus tape with every block compressed with bzip2: the Linux opx reads it as the
  # plain tape; the Windows build, which has no bzip2, says so at the first block and fails.
  bzip2_tape() {
    python3 - tape/xmi_test_tape.aws "$work/bzip2.het" <<'PY' || return 1
import bz2, struct, sys
data = open(sys.argv[1], "rb").read()
out, at, previous = bytearray(), 0, 0
while at + 6 <= len(data):
    length, _, flags1, flags2 = struct.unpack("<HHBB", data[at:at + 6])
    block = data[at + 6:at + 6 + length]
    at += 6 + length
    if not flags1 & 0x40:  # a data block, not a tape mark
        block = bz2.compress(block)
        flags1 |= 0x02
    out += struct.pack("<HHBB", len(block), previous, flags1, flags2) + block
    previous = len(block)
open(sys.argv[2], "wb").write(out)
PY
    [ "$("$linux_opx" list "$work/bzip2.het")" = "$("$linux_opx" list tape/xmi_test_tape.aws)" ] || return 1
    local status=0
    win opx list "$(winpath "$work/bzip2.het")" >/dev/null 2>"$work/bz.err" || status=$?
    [ "$status" -ne 0 ] &&
      grep -q "Block is compressed with bzip2, which this build cannot read at offset 0" "$work/bz.err"
  }
  check "a tape of bzip2 blocks: read on Linux, refused with a message on Windows" bzip2_tape

  # A relink from an installation in a folder whose name holds a blank, into another such
  # folder: vrl.exe is started by its full path, and the paths reach it, through a quoted
  # command line.
  relink_blanks() {
    local installed="$work/Program Files/opxkit" out="$work/relinked here"
    mkdir -p "$installed" "$out" && cp "$bin"/*.exe "$bin"/*.dll "$installed/" || return 1
    "$emulator" "$installed/opx.exe" extract -t relink --parm NCAL --listing "$(winpath "$out")\\&m.lst" \
      -o "$(winpath "$out")\\&M" xmit/load/cc370_e2e_iewl.xmit >"$work/relink.out" 2>&1 &&
      [ -s "$out/E2E" ] && grep -q "VRL000I PARAMETERS - NCAL" "$out/e2e.lst" ||
      { tr -d '\r' <"$work/relink.out" >&2; ls -l "$out" >&2; return 1; }
  }
  check "opx.exe in Program Files relinks into a folder with blanks in its name" relink_blanks
else
  echo "skipped: the corpus comparison needs $shared/corpus"
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
