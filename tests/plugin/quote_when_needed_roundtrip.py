#!/usr/bin/env python3
"""Values written with QUOTE_WHEN_NEEDED read back, value for value, with Python's csv module,
and only the values that need it are enclosed.

Usage: quote_when_needed_roundtrip.py TEXTJOB WORK_DIR
"""
import csv
import json
import os
import subprocess
import sys

VALUES = [
    ["plain", "Smith, John", 'say "hi"'],
    ["two\nlines", "cr\rhere", "crlf\r\nhere"],
    ["  lead", "trail\t", ""],
    ["Zo\u00eb", "\u65e5\u672c", "a,b\nc"],
]


def main():
    textjob, work = sys.argv[1:3]
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "in.csv")
    output = os.path.join(work, "out.csv")
    with open(source, "w", newline="", encoding="utf-8") as f:
        csv.writer(f, quoting=csv.QUOTE_ALL).writerows(VALUES)
    names = ["a", "b", "c"]
    job = {"steps": [
        {"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {
            "FILENAME": source, "QUOTE": '"', "PRESERVE_WHITESPACE": True,
            "NEWLINES_IN_VALUES": True,
            "FIELDS": [{"NAME": n, "TYPE": "string", "MAX_LENGTH": 100} for n in names]}},
        {"type": "DEST_DELIMTEXT", "name": "out", "properties": {
            "FILENAME": output, "QUOTE_WHEN_NEEDED": True, "END_OF_LINE": 3,
            "FIELDS": [{"FIELDNAME": n, "OUTPUTNAME": n} for n in names]}}]}
    job_path = os.path.join(work, "job.json")
    with open(job_path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    run = subprocess.run([textjob, "run", "--strict", job_path], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"textjob failed ({run.returncode}): {run.stderr}")
    with open(output, newline="", encoding="utf-8") as f:
        back = list(csv.reader(f))
    if back != VALUES:
        sys.exit(f"read back {back!r}, expected {VALUES!r}")
    with open(output, "rb") as f:
        first = f.readline()
    if first != b'plain,"Smith, John","say ""hi"""\r\n':
        sys.exit(f"first line {first!r} encloses more or less than what needs it")
    print("ok")


if __name__ == "__main__":
    main()
