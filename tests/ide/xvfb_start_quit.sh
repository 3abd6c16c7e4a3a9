#!/usr/bin/env bash
# Starts Pelda with a source file on a virtual X display, checks that it stays up, asks it to
# end with SIGTERM (as a desktop session does at log-out) and checks that it ended cleanly:
# exit status 0, nothing alarming on standard error, and the profile written on the way out.
#   xvfb_start_quit.sh PELDA SOURCE
set -u
pelda=$1
source=$2
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is not installed; skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/opxkit"
printf '[General]\nPath=%s\n\n[Tip]\nStartUp=1\n' "$work" >"$XDG_CONFIG_HOME/opxkit/Pelda.conf"
printf 'Press F7 to assemble the active document.\n' >"$work/PeldaTips.txt"
cp "$source" "$work/sample.390"
export QT_QPA_PLATFORM=xcb

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" "$2/sample.390" 2>"$2/stderr" &
  pid=$!
  for _ in $(seq 1 12); do sleep 0.25; kill -0 $pid 2>/dev/null || break; done
  if ! kill -0 $pid 2>/dev/null; then
    wait $pid
    echo "Pelda ended by itself with status $?"
    exit 1
  fi
  kill -TERM $pid
  wait $pid
  status=$?
  echo "Pelda ended with status $status"
  exit $status' _ "$pelda" "$work"
status=$?
if [ -s "$work/stderr" ]; then
  echo "--- standard error of Pelda:"
  cat "$work/stderr"
fi
[ $status -eq 0 ] || exit 1
if grep -Eq 'ERROR|Sanitizer|QXcbConnection|Segmentation' "$work/stderr"; then
  echo "Pelda reported errors"
  exit 1
fi
if ! grep -q "File1=$work/sample.390" "$XDG_CONFIG_HOME/opxkit/Pelda.conf"; then
  echo "the profile was not written on the way out:"
  cat "$XDG_CONFIG_HOME/opxkit/Pelda.conf"
  exit 1
fi
echo "started and quit cleanly"
