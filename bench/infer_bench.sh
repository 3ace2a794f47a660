#!/usr/bin/env bash
# Measures `textjob infer` against the delimited source reading the same file with every field
# a string (the job `infer --text --to none` writes): wall and CPU seconds, peak memory, and the
# ratio of the two. Best of three runs each; the machine's load is printed alongside.
#
# Usage: bench/infer_bench.sh [BUILD_DIR] [FILE]
#   FILE defaults to the 256 MB input that bench/jobs_bench.sh generates
#   (${TEXT_BENCH_DIR:-/tmp/textbench}/input_256mb.csv); run that script once first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
input="${2:-${TEXT_BENCH_DIR:-/tmp/textbench}/input_256mb.csv}"
textjob="$build/bin/textjob"
[ -x "$textjob" ] || { echo "no $textjob: build the textjob target first" >&2; exit 1; }
[ -s "$input" ] || { echo "no $input: run bench/jobs_bench.sh once to generate it" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (Debian package: time)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$textjob" infer --text --to none "$input" -o "$work/strings.json" 2>/dev/null

# best_of CMD...: the run with the least CPU time, as "wall cpu peak_kb".
best_of() {
    local best=""
    for _ in 1 2 3; do
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
        read -r wall user sys peak <"$work/time"
        local cpu
        cpu=$(echo "$user + $sys" | bc)
        if [ -z "$best" ] || [ "$(echo "$cpu < $(echo "$best" | cut -d' ' -f2)" | bc)" = 1 ]; then
            best="$wall $cpu $peak"
        fi
    done
    echo "$best"
}

echo "file: $input ($(($(stat -c %s "$input") / 1000000)) MB); load: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r sw sc sm <<<"$(best_of "$textjob" run -q "$work/strings.json")"
read -r iw ic im <<<"$(best_of "$textjob" infer --to none "$input" -o "$work/typed.json")"
printf '%-28s %8s %8s %10s\n' "" "wall s" "cpu s" "peak KB"
printf '%-28s %8s %8s %10s\n' "source, every field string" "$sw" "$sc" "$sm"
printf '%-28s %8s %8s %10s\n' "infer (types detected)" "$iw" "$ic" "$im"
echo "infer / source: cpu $(echo "scale=2; $ic / $sc" | bc)x, wall $(echo "scale=2; $iw / $sw" | bc)x"
