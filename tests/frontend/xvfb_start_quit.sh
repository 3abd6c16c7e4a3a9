#!/usr/bin/env bash
# Starts opxwin with a transmit file on a virtual X display, checks that it stays up with the
# file open, asks it to end with SIGTERM (as a desktop session does at log-out) and checks that
# it ended cleanly: exit status 0 and nothing alarming on standard error.
#   xvfb_start_quit.sh OPXWIN BREN
set -u
opxwin=$1
bren=$2
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is not installed; skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
printf 'HELLO    CSECT\n         BR    14\n         END\n' >"$work/src/hello.asm"
printf '* second member\n' >"$work/src/second.asm"
if ! "$bren" create "$work/demo.xmi" --dsn USER.DEMO.ASM "$work/src/&m.asm" >/dev/null; then
  echo "bren could not make the sample transmit file"
  exit 1
fi
export QT_QPA_PLATFORM=xcb

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" "$2/demo.xmi" -iotrace 2 2>"$2/stderr" &
  pid=$!
  for _ in $(seq 1 16); do sleep 0.25; kill -0 $pid 2>/dev/null || break; done
  if ! kill -0 $pid 2>/dev/null; then
    wait $pid
    echo "opxwin ended by itself with status $?"
    exit 1
  fi
  kill -TERM $pid
  wait $pid
  status=$?
  echo "opxwin ended with status $status"
  exit $status' _ "$opxwin" "$work"
status=$?
if [ -s "$work/stderr" ]; then
  echo "--- standard error of opxwin:"
  cat "$work/stderr"
fi
[ $status -eq 0 ] || exit 1
if grep -Eq 'ERROR|Sanitizer|QXcbConnection|Segmentation|could not be loaded' "$work/stderr"; then
  echo "opxwin reported errors"
  exit 1
fi
# The trace level reached the core: level 2 traces the opening of the transmit file.
if ! grep -q "demo.xmi\" opened" "$work/stderr"; then
  echo "the trace level did not reach the core"
  exit 1
fi
echo "started and quit cleanly"
