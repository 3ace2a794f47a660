#!/usr/bin/env bash
# Runs one example job on a copy of its folder and checks what it wrote, once with a thread per
# step (--threads 2) and once in one thread (--threads 1): both must write the same bytes.
#
#   run_example.sh TEXTJOB EXAMPLE_DIR WORK_DIR
#
# The example's folder (its job.json and data) is copied to WORK_DIR, without out/ and expected/,
# and the job runs there, so the source tree is never written and parallel builds do not meet.
# The run must exit 0. When the example has an expected/ folder, out/ must hold exactly the files
# of expected/, each with the same bytes; the date in an HTML report's head changes daily and is
# compared as "Date: M/D/YYYY". Without expected/, out/ must not be empty.
set -euo pipefail
shopt -s nullglob

textjob=$1
example=$2
work_root=$3

fail() {
    echo "FAIL ($(basename "$example")): $*" >&2
    exit 1
}

[ -x "$textjob" ] || fail "textjob not found at $textjob"
[ -f "$example/job.json" ] || fail "no job.json in $example"

check_run() {
    local threads=$1
    local work="$work_root/threads_$threads"
    rm -rf "$work"
    mkdir -p "$work"
    cp -R "$example/." "$work/"
    rm -rf "$work/out" "$work/expected"
    mkdir "$work/out"

    status=0
    timeout 60 "$textjob" run --threads "$threads" "$work/job.json" >"$work/run.log" 2>&1 || status=$?
    cat "$work/run.log"
    [ "$status" -eq 0 ] || fail "textjob --threads $threads exited with $status"

    if [ ! -d "$example/expected" ]; then
        [ -n "$(ls -A "$work/out")" ] || fail "the job wrote nothing to out/"
        echo "OK (--threads $threads): exit 0, out/ holds: $(ls "$work/out" | tr '\n' ' ')"
        return 0
    fi

    # Masks the report date, written month/day/year without leading zeros.
    mask_date() {
        sed -E 's#Date: [0-9]{1,2}/[0-9]{1,2}/[0-9]{4}</TD>#Date: M/D/YYYY</TD>#' "$1"
    }

    errors=0
    for expected in "$example/expected"/*; do
        name=$(basename "$expected")
        actual="$work/out/$name"
        if [ ! -f "$actual" ]; then
            echo "missing output: out/$name" >&2
            errors=$((errors + 1))
            continue
        fi
        if [[ $name == *.html ]]; then
            mask_date "$actual" >"$work/$name.masked"
            actual="$work/$name.masked"
        fi
        if ! cmp -s "$expected" "$actual"; then
            echo "out/$name differs from expected/$name:" >&2
            diff <(cat -A "$expected") <(cat -A "$actual") >&2 || true
            errors=$((errors + 1))
        fi
    done
    for actual in "$work/out"/*; do
        name=$(basename "$actual")
        [ -e "$example/expected/$name" ] || { echo "unexpected output: out/$name" >&2; errors=$((errors + 1)); }
    done

    [ "$errors" -eq 0 ] || fail "--threads $threads: $errors output file(s) wrong"
    echo "OK (--threads $threads): $(ls "$example/expected" | wc -l) output file(s) as expected"
}

rm -rf "$work_root"
for threads in 2 1; do
    check_run "$threads"
done

# Without expected/ the two runs are held to each other.
if [ ! -d "$example/expected" ]; then
    for threaded in "$work_root/threads_2/out"/*; do
        name=$(basename "$threaded")
        single="$work_root/threads_1/out/$name"
        if [[ $name == *.html ]]; then
            sed -E 's#Date: [0-9/]+</TD>##' "$threaded" >"$work_root/threaded_$name"
            sed -E 's#Date: [0-9/]+</TD>##' "$single" >"$work_root/single_$name"
            threaded="$work_root/threaded_$name"
            single="$work_root/single_$name"
        fi
        cmp "$threaded" "$single" || fail "out/$name differs between --threads 2 and --threads 1"
    done
    [ "$(ls "$work_root/threads_2/out")" = "$(ls "$work_root/threads_1/out")" ] ||
        fail "--threads 2 and --threads 1 wrote different files"
    echo "OK: --threads 2 and --threads 1 wrote the same bytes"
fi
