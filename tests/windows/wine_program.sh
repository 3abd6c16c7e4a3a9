#!/usr/bin/env bash
# Runs a program of a Windows build under Wine in place of the Linux program that a test names.
#   wine_program.sh EMULATOR PROGRAM.exe STDOUT-KIND [ARGUMENT...]
# Standard input, the arguments, the environment and the exit status pass through unchanged.
# The programs write their messages, and their listings in text mode, with CR LF line ends as
# Windows text; the tests hold Linux text, so a CR before a line feed is dropped from standard
# error, and from standard output when STDOUT-KIND is "text" (it is "bytes" for a program whose
# standard output carries data, such as cpconv).
set -uo pipefail
emulator=$1
program=$2
kind=$3
shift 3
export WINEDEBUG=${WINEDEBUG:--all}
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT
"$emulator" "$program" "$@" >"$out" 2>"$err"
status=$?
if [ "$kind" = text ]; then
  sed 's/\r$//' "$out"
else
  cat "$out"
fi
sed 's/\r$//' "$err" >&2
exit "$status"
