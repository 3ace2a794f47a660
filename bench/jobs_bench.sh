#!/usr/bin/env bash
# Measures whole jobs run by textjob on a generated CSV file of 10 mixed fields (256 MB by
# default): CSV to CSV, CSV to fixed-width, fixed-width to CSV and CSV to HTML (with a thread
# per step where the machine has the cores), and CSV to CSV with --threads 1, CSV to CSV and
# HTML at once (default threads, and a thread per step), each as MB/s of
# input and peak memory, next to `cat FILE > /dev/null` and a CSV to CSV copy by Python's csv
# module of the same file in the same run, the source alone and CSV to CSV over the file
# gzip-compressed and CSV into a .gz (MB/s of the text), CSV to CSV of a file with some long
# texts, and of
# rows of 50,000 and of 1,000 fields (with the default threads and with one). Then,
# to tell each destination's own cost, the source alone and each job in one thread (a
# destination's own CPU is its job's less the source's alone). The load average is printed
# with each line: on a busy machine the wall-clock figures mean little, the CPU seconds more.
#
# With --yardsticks, two other CSV engines do the same CSV to CSV copy in the same run, for
# scale: DuckDB with 1 and 2 threads and Polars with 2 threads, through their Node.js packages,
# which the script installs into the work folder the first time (npm and node are needed). Each
# runs once in every round of textjob's own (below), and the ratios of the least times of each
# close the run.
#
# Usage: bench/jobs_bench.sh [BUILD_DIR] [SIZE_MB] [--yardsticks]     (defaults: build, 256)
# Work files go to ${TEXT_BENCH_DIR:-/tmp/textbench}; the generated input is kept between runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
size_mb="${2:-256}"
yardsticks=0
[ "${3:-}" = --yardsticks ] && yardsticks=1
work="${TEXT_BENCH_DIR:-/tmp/textbench}"
textjob="$build/bin/textjob"
[ -x "$textjob" ] || { echo "no $textjob: build the textjob target first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (Debian package: time)" >&2; exit 1; }
mkdir -p "$work"
input="$work/input_${size_mb}mb.csv"

if [ ! -s "$input" ]; then
    echo "generating $input ..."
    python3 - "$input.part" "$size_mb" <<'PY'
import random, sys
path, size = sys.argv[1], int(sys.argv[2]) * 1_000_000
rnd = random.Random(20240607)
names = ["Ana", "Björn", "Chloé", "Dmitri", "Emeka", "Fatima", "Grace", "Hiro", "José", "Zoë"]
cities = ["Porto", "Malmö", "Lyon", "Riga", "Lagos", "Köln", "Osaka", "Bergen", "Sevilla", "Cork"]
notes = ["", "ok", "\"late, again\"", "gift wrap", "\"says \"\"urgent\"\"\"", "back door"]
with open(path, "w", encoding="utf-8", newline="\n") as out:
    written, i, lines = 0, 0, []
    while written < size:
        i += 1
        line = "%d,%s %s,%s,%.2f,%d,2024-%02d-%02d,%s,C%05d,%s,%.4f\n" % (
            i, rnd.choice(names), rnd.choice(names), rnd.choice(cities),
            rnd.uniform(0, 10000), rnd.randint(1, 500), rnd.randint(1, 12), rnd.randint(1, 28),
            rnd.choice(("true", "false")), rnd.randint(0, 99999), rnd.choice(notes), rnd.random())
        lines.append(line)
        written += len(line.encode())
        if len(lines) == 10000:
            out.write("".join(lines)); lines = []
    out.write("".join(lines))
PY
    mv "$input.part" "$input"
fi
bytes=$(stat -c %s "$input")

# A file of four text fields in which about one value in thirty is a text of 20 to 120 KB: the
# threads' hand-over must not keep a long text's storage in every slot it passed through.
long_input="$work/long_texts.csv"
if [ ! -s "$long_input" ]; then
    python3 - "$long_input.part" <<'PY'
import random, sys
rnd = random.Random(7)
with open(sys.argv[1], "w", encoding="utf-8", newline="\n") as out:
    for i in range(8000):
        out.write(",".join("x" * rnd.randint(20000, 120000) if rnd.random() < 0.03
                           else "v%d" % rnd.randint(0, 999) for _ in range(4)) + "\n")
PY
    mv "$long_input.part" "$long_input"
fi

names=(id name city amount qty day flag code note score)
types=(integer string string real integer date boolean string string real)
widths=(10 24 12 10 5 10 5 6 24 8)

delim_fields() {
    local sep=""
    for i in "${!names[@]}"; do
        printf '%s{"NAME":"%s","TYPE":"%s","MAX_LENGTH":40}' "$sep" "${names[$i]}" "${types[$i]}"
        sep=","
    done
}
fixed_source_fields() {
    local sep="" pos=1
    for i in "${!names[@]}"; do
        printf '%s{"NAME":"%s","TYPE":"%s","START_POS":%d,"LENGTH":%d}' \
            "$sep" "${names[$i]}" "${types[$i]}" "$pos" "${widths[$i]}"
        pos=$((pos + widths[$i]))
        sep=","
    done
}
record_width() { local w=0; for x in "${widths[@]}"; do w=$((w + x)); done; echo $w; }
dest_fields() {  # $1: second column name (OUTPUTNAME or WIDTH)
    local sep=""
    for i in "${!names[@]}"; do
        if [ "$1" = WIDTH ]; then value="${widths[$i]}"; else value="\"${names[$i]}\""; fi
        printf '%s{"FIELDNAME":"%s","%s":%s}' "$sep" "${names[$i]}" "$1" "$value"
        sep=","
    done
}
delim_source() {
    printf '{"type":"SOURCE_DELIMTEXT","properties":{"FILENAME":"%s","QUOTE":"\\"","FIELDS":[%s]}}' \
        "$1" "$(delim_fields)"
}
fixed_source() {
    printf '{"type":"SOURCE_FIXEDTEXT","properties":{"FILENAME":"%s","CRLF_TERMINATE":true,"RECORDWIDTH":%d,"FIELDS":[%s]}}' \
        "$1" "$(record_width)" "$(fixed_source_fields)"
}
delim_dest() {
    printf '{"type":"DEST_DELIMTEXT","properties":{"FILENAME":"%s","QUALIFIER":"\\"","FIELDS":[%s]}}' \
        "$1" "$(dest_fields OUTPUTNAME)"
}
fixed_dest() {
    printf '{"type":"DEST_FIXEDTEXT","properties":{"FILENAME":"%s","LINE_END":"LF","FIELDS":[%s]}}' \
        "$1" "$(dest_fields WIDTH)"
}
html_dest() {
    printf '{"type":"DEST_HTML","properties":{"FILENAME":"%s","TITLE":"Bench","FIELDS":[%s]}}' \
        "$1" "$(dest_fields OUTPUTNAME)"
}

echo "{\"steps\":[$(delim_source "$input"),$(delim_dest "$work/out.csv")]}" > "$work/csv_to_csv.json"
echo "{\"steps\":[$(delim_source "$input"),$(fixed_dest "$work/out_fixed.txt")]}" > "$work/csv_to_fixed.json"
echo "{\"steps\":[$(fixed_source "$work/out_fixed.txt"),$(delim_dest "$work/fixed_out.csv")]}" > "$work/fixed_to_csv.json"
echo "{\"steps\":[$(delim_source "$input"),$(html_dest "$work/out.html")]}" > "$work/csv_to_html.json"
echo "{\"steps\":[$(delim_source "$input")]}" > "$work/source_only.json"
# Three steps: on two cores, the source in one thread and both destinations in the other.
echo "{\"steps\":[$(delim_source "$input"),$(delim_dest "$work/out.csv"),$(html_dest "$work/out.html")]}" \
    > "$work/csv_to_csv_html.json"
# The same rows gzip-compressed, read by the source alone and copied to CSV, and copied from
# CSV into a .gz; their rates count the text.
gzip_input="$work/input_${size_mb}mb.csv.gz"
if [ ! -s "$gzip_input" ]; then
    gzip -c -6 "$input" > "$gzip_input.part"
    mv "$gzip_input.part" "$gzip_input"
fi
echo "{\"steps\":[$(delim_source "$gzip_input")]}" > "$work/gzip_source.json"
echo "{\"steps\":[$(delim_source "$gzip_input"),$(delim_dest "$work/out.csv")]}" > "$work/gzip_to_csv.json"
echo "{\"steps\":[$(delim_source "$input"),$(delim_dest "$work/out.csv.gz")]}" > "$work/csv_to_gzip.json"
# Other encodings: the same rows read from ISO-8859-1, and written as UTF-16LE.
latin1_input="$work/input_${size_mb}mb_latin1.csv"
if [ ! -s "$latin1_input" ]; then
    iconv -f UTF-8 -t ISO-8859-1 "$input" > "$latin1_input.part"
    mv "$latin1_input.part" "$latin1_input"
fi
echo "{\"steps\":[$(delim_source "$latin1_input" | sed 's/"QUOTE"/"ENCODING":"ISO-8859-1","QUOTE"/'),$(delim_dest "$work/out.csv")]}" \
    > "$work/latin1_to_csv.json"
echo "{\"steps\":[$(delim_source "$input"),$(delim_dest "$work/out_utf16.csv" | sed 's/"QUALIFIER"/"ENCODING":"UTF-16LE","QUALIFIER"/')]}" \
    > "$work/csv_to_utf16.json"
long_fields='{"NAME":"a","TYPE":"string","MAX_LENGTH":200000},{"NAME":"b","TYPE":"string","MAX_LENGTH":200000},{"NAME":"c","TYPE":"string","MAX_LENGTH":200000},{"NAME":"d","TYPE":"string","MAX_LENGTH":200000}'
long_outputs='{"FIELDNAME":"a","OUTPUTNAME":"a"},{"FIELDNAME":"b","OUTPUTNAME":"b"},{"FIELDNAME":"c","OUTPUTNAME":"c"},{"FIELDNAME":"d","OUTPUTNAME":"d"}'
echo "{\"steps\":[{\"type\":\"SOURCE_DELIMTEXT\",\"properties\":{\"FILENAME\":\"$long_input\",\"FIELDS\":[$long_fields]}},{\"type\":\"DEST_DELIMTEXT\",\"properties\":{\"FILENAME\":\"$work/long_out.csv\",\"FIELDS\":[$long_outputs]}}]}" \
    > "$work/long_texts.json"

# Wide rows: two lines of 50,000 fields, and 5,000 lines of 1,000 fields, each read and written
# as strings; the batches between the threads must be sized by values, not rows.
wide_job() {  # $1: fields, $2: lines, $3: name
    python3 - "$work" "$1" "$2" "$3" <<'PY'
import json, sys
work, fields, lines, name = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
data = "%s/%s.csv" % (work, name)
with open(data, "w", newline="\n") as out:
    for i in range(lines):
        out.write(",".join("v%d_%d" % (i, k) for k in range(fields)) + "\n")
names = ["f%d" % k for k in range(fields)]
steps = [{"type": "SOURCE_DELIMTEXT", "properties": {"FILENAME": data, "FIELDS": [
             {"NAME": n, "TYPE": "string", "MAX_LENGTH": 20} for n in names]}},
         {"type": "DEST_DELIMTEXT", "properties": {"FILENAME": "%s/%s_out.csv" % (work, name),
             "FIELDS": [{"FIELDNAME": n} for n in names]}}]
json.dump({"steps": steps}, open("%s/%s.json" % (work, name), "w"))
PY
}
[ -s "$work/wide_50000.json" ] || wide_job 50000 2 wide_50000
[ -s "$work/wide_1000.json" ] || wide_job 1000 5000 wide_1000

declare -A cpu_of   # CPU seconds of each measured job, by name
declare -A wall_of  # and its wall-clock seconds
outputs=("$work/out.csv" "$work/out.csv.gz" "$work/out_utf16.csv" "$work/out_fixed.txt" "$work/fixed_out.csv" "$work/out.html"
    "$work/long_out.csv" "$work/python_out.csv" "$work/wide_50000_out.csv" "$work/wide_1000_out.csv"
    "$work/duckdb_out.csv" "$work/polars_out.csv")

# Runs "$@" under /usr/bin/time and prints: name, input MB, seconds, MB/s, CPU seconds (user +
# system, the figure that other work on a shared machine disturbs least), peak RSS MB.
measure() {
    local name="$1" in_file="$2"; shift 2
    local in_bytes; in_bytes=$(stat -c %s "$in_file")
    # Every job writes a new file, as a first run does: replacing a large file costs the kernel
    # a free of its cached pages, which would count against whichever job came second. The
    # earlier jobs' output is on disk before the next job starts, so that their write-back does
    # not fall into its time either.
    local out
    for out in "${outputs[@]}"; do
        [ "$out" = "$in_file" ] || rm -f "$out"
    done
    sync
    cat "$in_file" > /dev/null  # into the page cache
    local log="$work/$name.time"
    /usr/bin/time -v "$@" > "$work/$name.stdout" 2> "$log" || {
        echo "$name failed:" >&2; tail -n 30 "$log" >&2; return 1; }
    local wall rss cpu
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" |
        awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    cpu=$(awk -F': ' '/(User|System) time \(seconds\)/ {s += $2} END {print s}' "$log")
    cpu_of[$name]=$cpu
    wall_of[$name]=$wall
    local load; load=$(cut -d' ' -f1 /proc/loadavg)
    awk -v n="$name" -v b="$in_bytes" -v w="$wall" -v c="$cpu" -v r="$rss" -v l="$load" 'BEGIN {
        printf "%-14s %9.1f MB %8.2f s %9.1f MB/s %7.2f s %8.1f MB peak  load %s\n", n, b/1e6, w,
            (w > 0 ? b/1e6/w : 0), c, r/1024, l }'
}

echo "input: $input ($((bytes / 1000000)) MB), textjob: $textjob"
printf '%-14s %12s %10s %14s %9s %13s\n' job input time throughput cpu memory
measure cat "$input" sh -c 'cat "$1" > /dev/null' cat "$input"
measure python_csv "$input" python3 -c '
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as src, \
        open(sys.argv[2], "w", newline="", encoding="utf-8") as dst:
    csv.writer(dst, lineterminator="\n").writerows(csv.reader(src))
' "$input" "$work/python_out.csv"
measure csv_to_csv "$input" "$textjob" run "$work/csv_to_csv.json"
measure csv_to_csv_1t "$input" "$textjob" run --threads 1 "$work/csv_to_csv.json"
measure csv_to_fixed "$input" "$textjob" run "$work/csv_to_fixed.json"
measure fixed_to_csv "$work/out_fixed.txt" "$textjob" run "$work/fixed_to_csv.json"
measure csv_to_html "$input" "$textjob" run "$work/csv_to_html.json"
measure long_texts "$long_input" "$textjob" run "$work/long_texts.json"
measure latin1_to_csv "$latin1_input" "$textjob" run "$work/latin1_to_csv.json"
measure gzip_source "$input" "$textjob" run "$work/gzip_source.json"
measure gzip_to_csv "$input" "$textjob" run "$work/gzip_to_csv.json"
measure csv_to_gzip "$input" "$textjob" run "$work/csv_to_gzip.json"
measure csv_to_utf16 "$input" "$textjob" run "$work/csv_to_utf16.json"
if [ "$yardsticks" = 1 ]; then
    yard="$work/yardsticks"
    # Polars' native part is a package of its own for each platform, which npm leaves out of a
    # pinned install: it is named here.
    case "$(uname -m)" in
        aarch64) polars_native=nodejs-polars-linux-arm64-gnu ;;
        *) polars_native=nodejs-polars-linux-x64-gnu ;;
    esac
    if [ ! -d "$yard/node_modules/@duckdb/node-api" ] || [ ! -d "$yard/node_modules/$polars_native" ]; then
        echo "installing the yardsticks into $yard ..."
        mkdir -p "$yard"
        (cd "$yard" && npm init -y > /dev/null &&
            npm install --no-audit --no-fund -E @duckdb/node-api@1.5.6-r.1 nodejs-polars@0.25.2 \
                "$polars_native@0.25.2" > /dev/null)
    fi
    cat > "$yard/duckdb_copy.js" <<'JS'
const { DuckDBInstance } = require("@duckdb/node-api");
const [input, output, threads] = process.argv.slice(2);
(async () => {
    const db = await DuckDBInstance.create(":memory:", { threads: threads });
    const con = await db.connect();
    await con.run(`COPY (SELECT * FROM read_csv('${input}', header = false, delim = ',',
        quote = '"', escape = '"')) TO '${output}' (FORMAT csv, HEADER false)`);
})();
JS
    cat > "$yard/polars_copy.js" <<'JS'
const pl = require("nodejs-polars");
const [input, output] = process.argv.slice(2);
pl.readCSV(input, { hasHeader: false, quoteChar: '"' }).writeCSV(output, { includeHeader: false });
JS
    # Each yardstick runs once a round, below, next to textjob's own rounds.
    yardstick_round() {  # $1: the round
        measure "duckdb_1t_$1" "$input" node "$yard/duckdb_copy.js" "$input" "$work/duckdb_out.csv" 1
        measure "duckdb_2t_$1" "$input" node "$yard/duckdb_copy.js" "$input" "$work/duckdb_out.csv" 2
        measure "polars_2t_$1" "$input" env POLARS_MAX_THREADS=2 node "$yard/polars_copy.js" \
            "$input" "$work/polars_out.csv"
    }
fi
for wide in wide_50000 wide_1000; do
    measure "$wide" "$work/$wide.csv" "$textjob" run "$work/$wide.json"
    measure "${wide}_1t" "$work/$wide.csv" "$textjob" run --threads 1 "$work/$wide.json"
done

# A run with a thread per step goes only as fast as its slower core, and on a shared machine one
# core may be slower than the other for minutes: the source alone pinned to each core in turn
# tells such a spell from a change in the code.
if command -v taskset > /dev/null && [ "$(nproc)" -ge 2 ]; then
    for core in 0 1; do
        measure "source_core$core" "$input" taskset -c "$core" "$textjob" run --threads 1 \
            "$work/source_only.json"
    done
fi

# Each destination's own cost: its one-thread job's CPU less the source's alone over the same
# file (the source's rows go nowhere). Three rounds (TEXT_BENCH_ROUNDS: more, on a machine whose
# speed comes and goes); the least CPU of each job counts, as whatever else the machine does
# only adds to it. The rounds also run CSV to CSV with a thread per step, next to its one-thread
# run, for the ratio of the two, and the fixed-width and HTML jobs with a thread per step, whose
# single runs above spread too widely to compare (274 to 385 MB/s for one build).
rounds="${TEXT_BENCH_ROUNDS:-3}"
for round in $(seq "$rounds"); do
    measure "source_1t_$round" "$input" "$textjob" run --threads 1 "$work/source_only.json"
    measure "csv_to_csv_$round" "$input" "$textjob" run "$work/csv_to_csv.json"
    measure "csv_to_csv_1t_$round" "$input" "$textjob" run --threads 1 "$work/csv_to_csv.json"
    measure "csv_to_fixed_1t_$round" "$input" "$textjob" run --threads 1 "$work/csv_to_fixed.json"
    fixed_bytes=$(stat -c %s "$work/out_fixed.txt")
    # Reads what the job before it wrote, which the next job's start deletes.
    measure "fixed_to_csv_$round" "$work/out_fixed.txt" "$textjob" run "$work/fixed_to_csv.json"
    measure "csv_to_html_1t_$round" "$input" "$textjob" run --threads 1 "$work/csv_to_html.json"
    measure "csv_to_html_$round" "$input" "$textjob" run "$work/csv_to_html.json"
    measure "csv_to_csv_html_$round" "$input" "$textjob" run "$work/csv_to_csv_html.json"
    measure "csv_to_csv_html_3t_$round" "$input" "$textjob" run --threads 3 \
        "$work/csv_to_csv_html.json"
    if [ "$yardsticks" = 1 ]; then yardstick_round "$round"; fi
done
least() {  # the least CPU seconds of the rounds of job $1
    for round in $(seq "$rounds"); do echo "${cpu_of[${1}_$round]}"; done | sort -g | head -n 1
}
least_wall() {  # the least wall-clock seconds of the rounds of job $1
    for round in $(seq "$rounds"); do echo "${wall_of[${1}_$round]}"; done | sort -g | head -n 1
}
awk -v s="$(least source_1t)" -v d="$(least csv_to_csv_1t)" -v f="$(least csv_to_fixed_1t)" \
    -v h="$(least csv_to_html_1t)" -v w="$(least_wall source_1t)" -v b="$bytes" -v r="$rounds" 'BEGIN {
    printf "own CPU, one thread (least of %d): delimited source %.2f s (%.1f MB/s at its least " \
        "time); destinations: delimited %.2f s, fixed-width %.2f s, HTML %.2f s\n", r, s,
        b / 1e6 / w, d - s, f - s, h - s }'
awk -v f="$(least_wall fixed_to_csv)" -v h="$(least_wall csv_to_html)" -v r="$rounds" \
    -v fb="$fixed_bytes" -v b="$bytes" 'BEGIN {
    printf "a thread per step (least of %d each): fixed-width to CSV %.1f MB/s, CSV to HTML " \
        "%.1f MB/s\n", r, fb / 1e6 / f, b / 1e6 / h }'
awk -v t="$(least_wall csv_to_csv_html)" -v t3="$(least_wall csv_to_csv_html_3t)" \
    -v c="$(least csv_to_csv_html)" -v c3="$(least csv_to_csv_html_3t)" -v b="$bytes" \
    -v r="$rounds" 'BEGIN {
    printf "CSV to CSV and HTML (least of %d each): default threads %.1f MB/s, %.2f s CPU; a " \
        "thread per step (--threads 3) %.1f MB/s, %.2f s CPU\n", r, b / 1e6 / t, c, b / 1e6 / t3, c3 }'
if [ "$yardsticks" = 1 ]; then
    # A single run of either side says little where the machine's speed comes and goes (a run
    # of Polars took from 1.4 s to 3.3 s in one session here): the least of each one's rounds.
    awk -v t="$(least_wall csv_to_csv)" -v t1="$(least_wall csv_to_csv_1t)" \
        -v d1="$(least_wall duckdb_1t)" -v d2="$(least_wall duckdb_2t)" \
        -v p2="$(least_wall polars_2t)" -v r="$rounds" 'BEGIN {
        printf "CSV to CSV, times faster than (least of %d each): DuckDB 1 thread %.2f (textjob " \
            "1 thread %.2f), DuckDB 2 threads %.2f, Polars 2 threads %.2f\n", r, d1 / t, d1 / t1,
            d2 / t, p2 / t }'
fi
# Both sides of the ratio are the least of their rounds, taken in turns.
awk -v t="$(least_wall csv_to_csv)" -v t1="$(least_wall csv_to_csv_1t)" \
    -v c="$(least csv_to_csv)" -v c1="$(least csv_to_csv_1t)" -v r="$rounds" 'BEGIN {
    printf "CSV to CSV, a thread per step against --threads 1 (least of %d each): %.2f times as " \
        "fast, %.2f times the CPU\n", r, t1 / t, c / c1 }'
# The same ratio round by round: the two runs of a round are taken one after the other, so a
# spell in which the machine runs slow touches both, where the least times above may come from
# different spells.
round_ratios() {  # $1: "wall" (--threads 1 over default) or "cpu" (default over --threads 1)
    for round in $(seq "$rounds"); do
        if [ "$1" = wall ]; then
            echo "${wall_of[csv_to_csv_1t_$round]} ${wall_of[csv_to_csv_$round]}"
        else
            echo "${cpu_of[csv_to_csv_$round]} ${cpu_of[csv_to_csv_1t_$round]}"
        fi
    done | awk '{ printf "%.4f\n", $1 / $2 }' | sort -g | tr '\n' ' '
}
awk -v fast="$(round_ratios wall)" -v cpu="$(round_ratios cpu)" 'BEGIN {
    n = split(fast, f, " "); split(cpu, c, " "); m = int((n + 1) / 2)
    printf "the same, round by round (median of %d): %.2f times as fast (rounds %.2f to %.2f), " \
        "%.2f times the CPU\n", n, f[m], f[1], f[n], c[m] }'
