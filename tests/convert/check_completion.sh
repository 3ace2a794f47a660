#!/usr/bin/env bash
# The completion scripts and the manual page that the build wrote: each parses in its shell,
# and bash completes subcommands, options, step types and properties after --set STEP.
set -euo pipefail
dir="$1"
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
fi
grep -q '^\.SH COMMANDS' "$dir/textjob.1" && grep -q 'dry\\-run' "$dir/textjob.1" \
    || { echo "FAIL: the manual page lacks its commands or options"; fail=1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '{"steps": [{"type": "SOURCE_DELIMTEXT", "name": "in"}, {"type": "DEST_DELIMTEXT", "name": "out"}]}' >"$work/job.json"
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
exit $fail
