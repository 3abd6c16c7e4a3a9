#!/usr/bin/env bash
# The bash completion made from the programs' help: subcommands, options of the command line
# and of each subcommand, choices of an option's value, and files where a file is wanted.
#
#   completion_test.sh COMPLETION_DIR
set -uo pipefail
dir=$1
failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/deck.xmi" "$scratch/demo.txt"
cd "$scratch" || exit 1

# complete LINE: the candidates that the program's completion offers for the last word of LINE
# (a trailing blank starts a new, empty word), sorted, on one line.
complete_line() {
    local line=$1
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local fn
    fn=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
    "$fn" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

for p in opx bren cpconv ufx vrl; do
    if [ -f "$dir/$p" ]; then
        # shellcheck disable=SC1090
        source "$dir/$p"
    fi
done

# line | expected candidates
cases=(
    "opx |extract info list"
    "opx l|list"
    "opx --|--encoding --help --json --tape-blksize --tape-lrecl --tape-recfm --trace"
    "opx --trace 2 i|info"
    "opx list --h|--help --human"
    "opx extract --aliases |copy link skip"
    "opx extract --replace a|always ask"
    "opx extract --tabs |0 4 8"
    "opx extract --lrecl |"
    "opx extract deck.|deck.xmi"
    "opx extract -o de|deck.xmi demo.txt"
    "bren |create devices"
    "bren create --input|--input-kind"
    "bren devices --|--help --json --lrecl"
    "cpconv -|--from --help --json --list --newline --output --to -f -h -l -n -o -t"
    "cpconv dem|demo.txt"
    "ufx --sysut2-|--sysut2-append --sysut2-binary"
    "vrl --sys|--syslib --syslmod --sysprint --sysprint-append --systerm --systerm-split"
)
for c in "${cases[@]}"; do
    line=${c%%|*}
    want=${c#*|}
    prog=${line%% *}
    [ -f "$dir/$prog" ] || continue
    got=$(complete_line "$line")
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$line' completes to '$got', not '$want'" >&2
        failures=$((failures + 1))
    fi
done
[ -f "$dir/opx" ] || { echo "no completion for opx in $dir" >&2; exit 1; }
if [ "$failures" -gt 0 ]; then
    echo "$failures case(s) failed" >&2
    exit 1
fi
echo "${#cases[@]} completions as expected"
