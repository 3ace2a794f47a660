#!/usr/bin/env bash
# Runs one job on a generated CSV file (1000 MB by default; some quoted values hold line
# breaks, read with NEWLINES_IN_VALUES) once whole and then as N parts (4 by default) under
# GNU parallel with J at a time (2 by default), checks that the parts' files joined in order
# are byte for byte the whole run's output, and prints both wall times and the load average:
# on a busy machine the wall-clock figures mean little.
#
# Usage: bench/parts_bench.sh [BUILD_DIR] [SIZE_MB] [PARTS] [JOBS]   (defaults: build 1000 4 2)
# Work files go to ${TEXT_BENCH_DIR:-/tmp/textbench}; the generated input is kept between runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
size_mb="${2:-1000}"
parts="${3:-4}"
jobs="${4:-2}"
work="${TEXT_BENCH_DIR:-/tmp/textbench}/parts"
textjob="$build/bin/textjob"
[ -x "$textjob" ] || { echo "no $textjob: build the textjob target first" >&2; exit 1; }
command -v parallel > /dev/null || { echo "GNU parallel is missing (scripts/setup.sh)" >&2; exit 1; }
mkdir -p "$work"
input="$work/input_${size_mb}mb.csv"

if [ ! -s "$input" ]; then
    echo "generating $input ..."
    python3 - "$input" "$size_mb" <<'PY'
import random, sys
path, size = sys.argv[1], int(sys.argv[2]) * 1_000_000
rnd = random.Random(20261208)
words = ["north", "Malmö", "crate", "\"fragile\"", "x,y", "déjà vu", "pallet", "line\nbreak"]
with open(path, "w", encoding="utf-8", newline="\n") as out:
    out.write("id,customer,amount,note\n")
    written, i, lines = 0, 0, []
    while written < size:
        i += 1
        note = " ".join(rnd.choice(words) for _ in range(rnd.choice((0, 1, 3, 12, 60))))
        line = '%d,C%06d,%.2f,"%s"\n' % (i, rnd.randint(0, 999999), rnd.uniform(0, 9999),
                                         note.replace('"', '""'))
        lines.append(line)
        written += len(line.encode())
        if len(lines) == 10000:
            out.write("".join(lines)); lines = []
    out.write("".join(lines))
PY
fi

cat > "$work/job.json" <<JSON
{"steps": [
  {"type": "SOURCE_DELIMTEXT", "name": "in", "properties": {"FILENAME": "$input",
   "QUOTE": "\"", "SKIPROWS": 1, "NEWLINES_IN_VALUES": true,
   "FIELDS": [{"NAME": "id", "TYPE": "integer"}, {"NAME": "customer", "TYPE": "string",
               "MAX_LENGTH": 10}, {"NAME": "amount", "TYPE": "real"},
              {"NAME": "note", "TYPE": "string", "MAX_LENGTH": 2000}]}},
  {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": "out.csv",
   "QUALIFIER": "\"", "INCLUDE_HEADER": true,
   "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "customer"}, {"FIELDNAME": "amount"},
              {"FIELDNAME": "note"}]}}]}
JSON
cd "$work"
rm -f out.csv out.part-*.csv
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
start=$(date +%s.%N)
"$textjob" run job.json -q
whole=$(echo "$(date +%s.%N) - $start" | bc)
echo "whole run: ${whole} s (load $(cut -d' ' -f1-3 /proc/loadavg))"
start=$(date +%s.%N)
parallel --will-cite -j"$jobs" "$textjob" run job.json -q --part {}/"$parts" ::: $(seq 0 $((parts - 1)))
split=$(echo "$(date +%s.%N) - $start" | bc)
echo "$parts parts, $jobs at a time: ${split} s (load $(cut -d' ' -f1-3 /proc/loadavg))"
width=$(printf '%04d' "$parts")
if cat out.part-*-of-"$width".csv | cmp -s - out.csv; then
    echo "the parts joined are the whole run's output, byte for byte ($(stat -c %s out.csv) bytes)"
else
    echo "the parts joined differ from the whole run's output" >&2
    exit 1
fi
