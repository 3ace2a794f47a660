#!/usr/bin/env python3
"""Round trip of one published real-world file: the delimited source reads every field as a
string (blanks kept, quoted line ends kept when the file has them), the delimited destination
writes them with a qualifier and a header, and Python's csv module must read the same records
from the output as from the input.

Usage: real_world_roundtrip.py TEXTJOB TESTDATA_DIR FILE_NAME WORK_DIR
"""
import csv
import json
import os
import subprocess
import sys


def read_records(path, delimiter, encoding):
    with open(path, newline="", encoding=encoding) as f:
        return list(csv.reader(f, delimiter=delimiter, quotechar='"'))


def main():
    textjob, testdata, name, work = sys.argv[1:5]
    folder = os.path.join(testdata, "real-world")
    with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
        entry = next(e for e in json.load(f)["files"] if e["name"] == name)
    expected = read_records(os.path.join(folder, name), entry["delimiter"], "utf-8-sig")
    columns = max(len(r) for r in expected)
    names = [f"f{i}" for i in range(columns)]
    os.makedirs(work, exist_ok=True)
    output = os.path.join(work, name + ".out.csv")
    delimiter = entry["delimiter"]
    job = {"steps": [
        {"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {
            "FILENAME": os.path.join(folder, name),
            "DELIMITER": "0x09" if delimiter == "\t" else delimiter,
            "QUOTE": '"',
            "PRESERVE_WHITESPACE": True,
            "NEWLINES_IN_VALUES": bool(entry["multiline"]),
            "FIELDS": [{"NAME": n, "TYPE": "string", "MAX_LENGTH": 100000} for n in names]}},
        {"type": "DEST_DELIMTEXT", "name": "out", "properties": {
            "FILENAME": output, "QUALIFIER": '"', "INCLUDE_HEADER": True,
            "FIELDS": [{"FIELDNAME": n, "OUTPUTNAME": n} for n in names]}},
    ]}
    job_path = os.path.join(work, name + ".job.json")
    with open(job_path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    run = subprocess.run([textjob, "run", job_path], capture_output=True, text=True)
    if run.returncode != 0:
        print(run.stdout, run.stderr, sep="\n")
        return 1
    got = read_records(output, ",", "utf-8")
    if got[0] != names:
        print("header line:", got[0][:5])
        return 1
    got = got[1:]
    if len(got) != len(expected):
        print(f"{len(got)} records written, {len(expected)} read by Python's csv module")
    for i, (a, b) in enumerate(zip(got, expected)):
        if a != b:
            print(f"record {i + 1} differs:\n  written {a!r:.300}\n  expected {b!r:.300}")
            return 1
    return 0 if len(got) == len(expected) else 1


if __name__ == "__main__":
    sys.exit(main())
