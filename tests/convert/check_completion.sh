#!/usr/bin/env bash
# The completion scripts and the manual page that the build wrote: each parses in its shell,
# and bash completes subcommands, options, step types and properties after --set STEP; every
# option with a fixed set of values is offered exactly the set that textjob (the second
# argument) takes; the manual page's synopsis keeps its words apart.
set -euo pipefail
dir=$(cd "$1" && pwd)
textjob="${2:-}"
fail=0
for file in textjob.bash _textjob textjob.fish textjob.1; do
    [[ -s "$dir/$file" ]] || { echo "FAIL: $dir/$file is missing or empty"; fail=1; }
done
bash -n "$dir/textjob.bash" || { echo "FAIL: textjob.bash does not parse"; fail=1; }
if command -v fish >/dev/null; then fish -n "$dir/textjob.fish" || { echo "FAIL: textjob.fish does not parse"; fail=1; }; fi
if command -v zsh >/dev/null; then zsh -n "$dir/_textjob" || { echo "FAIL: _textjob does not parse"; fail=1; }; fi
if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$dir/textjob.1" 2>&1)
    [[ -z $warnings ]] || { echo "FAIL: groff warns about textjob.1: $warnings"; fail=1; }
    page=$(groff -man -Tascii -P-c -P-b -P-o -P-u "$dir/textjob.1")
    synopsis=$(sed -n '/^SYNOPSIS/,/^[A-Z]/{/^ /p}' <<<"$page")
    while read -r line; do
        [[ $line =~ ^textjob\ [a-z]+\ \[options\](\ [a-z]+)*$ ]] \
            || { echo "FAIL: the manual page's synopsis reads '$line'"; fail=1; }
    done <<<"$synopsis"
    [[ $synopsis == *"textjob convert [options] in out"* && $page == *"-n, --dry-run"* ]] \
        || { echo "FAIL: the manual page's synopsis or option names run words together"; fail=1; }
fi
grep -q '^\.SH COMMANDS' "$dir/textjob.1" && grep -q 'dry\\-run' "$dir/textjob.1" \
    || { echo "FAIL: the manual page lacks its commands or options"; fail=1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '{"steps": [{"type": "SOURCE_DELIMTEXT", "name": "in"}, {"type": "DEST_DELIMTEXT", "name": "out"}, {"type": "DEST_HTML", "name": "semicolon file"}]}' >"$work/job.json"
complete_line() {  # the words of a command line, the last one being completed
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _textjob
    echo "${COMPREPLY[*]}"
}
# shellcheck disable=SC1091
source "$dir/textjob.bash"
cd "$work"
check() {  # expected words, then the command line
    local expected="$1"
    shift
    local got
    got=$(complete_line "$@")
    if [[ " $got " != *" $expected "* ]]; then
        echo "FAIL: completing '$*' gave '$got', not '$expected'"
        fail=1
    fi
}
check run textjob ru
check convert textjob conv
check --dry-run textjob run job.json --dry
check SOURCE_DELIMTEXT textjob describe SOURCE_D
check in.FILENAME= textjob run job.json --set in.FILEN
check out. textjob run job.json --set ou
check fish textjob completion fi
check tsv textjob convert a.csv b.tsv --to ts
check 'semicolon\ file.' textjob run job.json --set sem
complete_line textjob run job.json --set 'semicolon\ file.TIT' >/dev/null
[[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == 'semicolon\ file.TITLE=' ]] \
    || { echo "FAIL: a property of 'semicolon file' completes to: ${COMPREPLY[*]}"; fail=1; }
check out. textjob run -t 2 --set in.SKIPROWS=1 job.json --set ou

# The values offered for each option with a fixed set, against the set that textjob names when
# it refuses a value: the command line up to the value (a positional when it ends in none).
if [[ -n $textjob ]]; then
    while read -r -a line; do
        accepted=$("$textjob" "${line[@]}" not-a-value 2>&1 | sed -n 's/.* not in {\(.*\)}$/\1/p' |
            tr , ' ' || true)
        [[ -n $accepted ]] || { echo "FAIL: textjob ${line[*]} takes any value"; fail=1; continue; }
        offered=$(complete_line textjob "${line[@]}" "" | tr ' ' '\n' | { grep -v '^-' || true; } | xargs)
        option="${line[-1]}"
        when="__fish_seen_subcommand_from ${line[0]}'"
        if [[ $option == --* ]]; then when+=" -l ${option#--}"; else when+=" -a"; fi
        fish=$({ grep -F -- "$when" "$dir/textjob.fish" || true; } | sed -n "s/.* -a '\([^']*\)'.*/\1/p")
        for got in "bash:$offered" "fish:$fish"; do
            [[ ${got#*:} == "$accepted" ]] || {
                echo "FAIL: ${got%%:*} offers '${got#*:}' to textjob ${line[*]}, which takes '$accepted'"
                fail=1
            }
        done
    done <<'EOF'
infer a.csv --to
infer a.csv --types
convert a.csv b.csv --to
convert a.csv b.csv --types
completion
EOF
fi
exit $fail
