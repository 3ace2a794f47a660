#!/usr/bin/env python3
"""Runs `textjob convert` over a table of conversions and compares what it wrote with what
Python's csv module reads from the input, value for value.

    check_convert.py --textjob PATH --data DIR --work DIR

Every case reads a file of the repository's test data (or one made from it), converts it, and
reads the output back as its kind says: delimited text with csv, gzip through gzip, fixed-width
lines cut at the widths of the job that --save-job wrote, HTML through html.parser.
"""

import argparse
import csv
import gzip
import html.parser
import io
import json
import os
import random
import subprocess
import sys

TIMEOUT = 120


def read_delimited(path, encoding, delimiter):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", encoding=encoding, newline="") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        text = text[1:]
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))


def read_fixed(path, job_path, encoding="utf-8"):
    with open(job_path, encoding="utf-8") as f:
        job = json.load(f)
    widths = [row["WIDTH"] for row in job["steps"][1]["properties"]["FIELDS"]]
    rows = []
    with open(path, "rb") as f:
        for text in f.read().decode(encoding).split("\n")[:-1]:
            line, cells, at = text.encode(encoding), [], 0
            for width in widths:
                cells.append(line[at:at + width].decode(encoding).rstrip(" "))
                at += width
            rows.append(cells)
    return rows


class Table(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.rows, self.cell = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag in ("td", "th"):
            self.cell = ""

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            self.rows[-1].append(self.cell.replace("\u00a0", ""))
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def read_html(path):
    table = Table()
    with open(path, encoding="utf-8") as f:
        table.feed(f.read())
    return [row for row in table.rows if row][1:]  # the first row is the page title


def read_title(path):
    table = Table()
    with open(path, encoding="utf-8") as f:
        table.feed(f.read())
    return [row for row in table.rows if row][0][:1]  # the title, without the date beside it


def expected_rows(rows, select=None, rename=None, strip=False):
    header, data = rows[0], rows[1:]
    picked = [header.index(name) for name in select] if select else list(range(len(header)))
    out = [[(rename or {}).get(header[i], header[i]) for i in picked]]
    for row in data:
        row = row + [""] * (len(header) - len(row))
        out.append([row[i].rstrip(" ") if strip else row[i] for i in picked])
    return out


def random_table(seed):
    """A table as programs write them: its delimiter, quoting, line end and byte-order mark, a
    header or none, and columns of integers, reals at full precision and at two places, dates,
    booleans and texts with delimiters, quotes, line breaks and letters beyond ASCII."""
    rnd = random.Random(seed)
    kinds = [rnd.choice("irdbtt") for _ in range(rnd.randint(1, 6))]
    text = 'ab ,;\t"\'\n|\u00e9\u20ac-.:'

    def value(kind):
        if rnd.random() < 0.08:
            return ""
        x = rnd.uniform(-1e4, 1e4)
        return {"i": lambda: str(rnd.randint(-10**12, 10**12)),
                "r": lambda: rnd.choice([repr(x), "%.2f" % x]),
                "d": lambda: "%04d-%02d-%02d" % (rnd.randint(1900, 2100), rnd.randint(1, 12),
                                                 rnd.randint(1, 28)),
                "b": lambda: rnd.choice(["true", "false"]),
                "t": lambda: "".join(rnd.choice(text) for _ in range(rnd.randint(1, 9)))}[kind]()
    header = rnd.random() < 0.7
    rows = [[f"h{i}" for i in range(len(kinds))]] if header else []
    rows += [[value(k) for k in kinds] for _ in range(rnd.randint(2, 40))]
    delimiter = rnd.choice(",;\t|")
    out = io.StringIO()
    csv.writer(out, delimiter=delimiter, lineterminator=rnd.choice(["\n", "\r\n"]),
               quoting=rnd.choice([csv.QUOTE_MINIMAL, csv.QUOTE_ALL])).writerows(rows)
    rows = list(csv.reader(io.StringIO(out.getvalue(), newline=""), delimiter=delimiter))
    return out.getvalue(), rnd.random() < 0.2, header, rows


def run(command, stdin=None, stdout=None):
    result = subprocess.run(command, stdin=stdin, stdout=stdout or subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=TIMEOUT)
    return result.returncode, result.stderr.decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--textjob", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    real = os.path.join(args.data, "real-world")

    # A ';' file in Latin-1, as spreadsheets of some countries save them.
    latin = os.path.join(args.work, "latin1-semicolon.csv")
    source = read_delimited(os.path.join(args.data, "encodings", "iso8859_1.csv"), "iso-8859-1", ",")
    with open(latin, "w", encoding="iso-8859-1", newline="") as f:
        csv.writer(f, delimiter=";", lineterminator="\n").writerows(source)

    # Headings and a file name that markup would read: the report shows them as they are.
    markup_rows = [["a<b", "R&D", 'say "hi"', "it's"], ["1", "<i>x</i>", "&amp;", "'"]]
    markup = os.path.join(args.work, "R&D <notes>.csv")
    with open(markup, "w", encoding="utf-8", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(markup_rows)

    plain_rows = [["id", "name", "amount"], ["1", "ann", "2.50"], ["22", "bob", "13.75"],
                  ["333", "cy", "0.5"]]
    plain = os.path.join(args.work, "plain.csv")
    with open(plain, "w", encoding="utf-8", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(plain_rows)

    # Shift_JIS, which detection takes for windows-1252: given with --input-encoding.
    japanese_rows = [["\u540d\u524d", "\u90fd\u5e02"], ["\u5c71\u7530", "\u6771\u4eac"],
                     ["\u7530\u4e2d", "\u5927\u962a"]]
    japanese = os.path.join(args.work, "shift-jis.csv")
    with open(japanese, "w", encoding="shift_jis", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(japanese_rows)

    cabinet = os.path.join(real, "cabinet-turnover.csv")
    cabinet_rows = read_delimited(cabinet, "utf-8-sig", ",")
    tsv = os.path.join(real, "poll-of-pollsters-5.tsv")
    airports = os.path.join(real, "airports.csv")
    airports_rows = read_delimited(airports, "utf-8", ",")
    pick = [airports_rows[0][2], airports_rows[0][0]]
    # name, input, options, output, how to read it, expected rows
    cases = [
        ("CSV to TSV", cabinet, [], "cabinet.tsv",
         lambda p: read_delimited(p, "utf-8", "\t"), expected_rows(cabinet_rows)),
        ("TSV to CSV", tsv, [], "polls.csv",
         lambda p: read_delimited(p, "utf-8", ","), expected_rows(read_delimited(tsv, "utf-8", "\t"))),
        ("pick and rename columns", airports,
         ["--select", ",".join(pick), "--rename", f"{pick[0]}=Name"], "airports.csv",
         lambda p: read_delimited(p, "utf-8", ","),
         expected_rows(airports_rows, pick, {pick[0]: "Name"})),
        ("CSV to fixed width", cabinet, [], "cabinet.txt",
         lambda p: read_fixed(p, p + ".job.json"), expected_rows(cabinet_rows, strip=True)[1:]),
        # Back from fixed width: IN named .fixed, or given --fixed, is read as fixed-width columns
        # (of values without blanks inside, which detection would take for column gaps).
        # WIDTH counts bytes of the output's encoding: room for each value there.
        ("CSV to fixed width in UTF-16", cabinet, ["--encoding", "UTF-16LE"], "cabinet16.txt",
         lambda p: read_fixed(p, p + ".job.json", "utf-16-le"),
         expected_rows(cabinet_rows, strip=True)[1:]),
        ("CSV to .fixed", plain, [], "plain.fixed",
         lambda p: read_fixed(p, p + ".job.json"), plain_rows[1:]),
        ("fixed width named .fixed back to CSV", os.path.join(args.work, "plain.fixed"),
         ["--no-header"], "plain-back.csv", lambda p: read_delimited(p, "utf-8", ","),
         [["column_1", "column_2", "column_3"]] + plain_rows[1:]),
        ("CSV to .txt", plain, [], "plain.txt",
         lambda p: read_fixed(p, p + ".job.json"), plain_rows[1:]),
        ("fixed width with --fixed to CSV", os.path.join(args.work, "plain.txt"),
         ["--fixed", "--no-header", "--to", "tsv"], "plain-back.txt",
         lambda p: read_delimited(p, "utf-8", "\t"),
         [["column_1", "column_2", "column_3"]] + plain_rows[1:]),
        ("CSV to HTML", cabinet, [], "cabinet.html", read_html, expected_rows(cabinet_rows)),
        ("headings and title that look like markup", markup, [], "markup.html",
         lambda p: [read_title(p)] + read_html(p),
         [[os.path.basename(markup)]] + expected_rows(markup_rows)),
        ("CSV to gzip TSV", cabinet, [], "cabinet.tsv.gz",
         lambda p: read_delimited(p, "utf-8", "\t"), expected_rows(cabinet_rows)),
        ("Latin-1 ';' to UTF-8 CSV", latin, [], "latin.csv",
         lambda p: read_delimited(p, "utf-8", ","), expected_rows(source)),
        ("Latin-1 kept as Latin-1, ';' kept", latin, ["--encoding", "latin1", "--delimiter", ";"],
         "latin-again.csv", lambda p: read_delimited(p, "iso-8859-1", ";"), expected_rows(source)),
        ("Shift_JIS given as the input's encoding", japanese,
         ["--input-encoding", "Shift_JIS"], "japanese.csv",
         lambda p: read_delimited(p, "utf-8", ","), japanese_rows),
        ("no header line", cabinet, ["--no-header"], "cabinet-no-header.csv",
         lambda p: read_delimited(p, "utf-8", ","),
         [[f"column_{i + 1}" for i in range(len(cabinet_rows[0]))]] + expected_rows(cabinet_rows)),
        ("written in place", cabinet, ["--in-place"], "cabinet-in-place.csv",
         lambda p: read_delimited(p, "utf-8", ","), expected_rows(cabinet_rows)),
        ("standard input to standard output", cabinet, ["--to", "tsv"], "-",
         lambda p: read_delimited(p, "utf-8", "\t"), expected_rows(cabinet_rows)),
    ]
    # Every real-world file of the test data, to TSV, as it comes.
    with open(os.path.join(real, "manifest.json"), encoding="utf-8") as f:
        for entry in json.load(f)["files"]:
            path = os.path.join(real, entry["name"])
            rows = read_delimited(path, entry["encoding"], entry["delimiter"])
            cases.append((f"{entry['name']} to TSV", path, [], entry["name"] + ".tsv",
                          lambda p: read_delimited(p, "utf-8", "\t"), expected_rows(rows)))
    # Tables as other programs write them, to CSV: every row comes back as Python reads it.
    for seed in range(60):
        text, bom, header, rows = random_table(seed)
        path = os.path.join(args.work, f"random-{seed}.txt")
        with open(path, "w", encoding="utf-8-sig" if bom else "utf-8", newline="") as f:
            f.write(text)
        options = [] if header else ["--no-header"]
        expected = rows if header else [[f"column_{i + 1}" for i in range(len(rows[0]))]] + rows
        cases.append((f"random table {seed}", path, options, f"random-{seed}.csv",
                      lambda p: read_delimited(p, "utf-8", ","), expected))
    failures = []
    for name, path, options, output, read, expected in cases:
        out = os.path.join(args.work, output if output != "-" else "stdout.tsv")
        job = out + ".job.json"
        if output == "-":
            with open(path, "rb") as stdin, open(out, "wb") as stdout:
                code, err = run([args.textjob, "convert", "-q", "-", "-", *options], stdin, stdout)
        else:
            code, err = run([args.textjob, "convert", "-q", path, out, "--save-job", job, *options])
        if code != 0:
            failures.append(f"{name}: exit status {code}: {err}")
            continue
        got = read(out)
        if got != expected:
            bad = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
            failures.append(f"{name}: {len(got)} rows, expected {len(expected)}; first difference at "
                            f"row {bad}: {got[bad] if bad < len(got) else None!r} against "
                            f"{expected[bad] if bad < len(expected) else None!r}")
        else:
            print(f"ok: {name} ({len(got)} rows)")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
