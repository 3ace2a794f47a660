#!/usr/bin/env python3
"""Compares what a job made by `textjob infer` wrote with the file it read, both read by
Python's csv module.

usage: check_roundtrip.py INPUT OUTPUT JOB text|typed

The input's encoding and delimiter come from manifest.json beside it. `text`: every row of the
output equals the input's, header included. `typed`: the same rows and header; string columns
equal; a typed column has a value exactly where the input has one (no value became null) and
the same number (integer, real) or truth value (boolean).
"""
import csv
import io
import json
import os
import sys


def manifest_entry(path):
    folder, name = os.path.split(path)
    with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    for entry in manifest["files"]:
        if entry.get("name", entry.get("file")) == name:
            return entry
    raise SystemExit("no manifest entry for " + name)


def python_encoding(entry):
    name = entry["encoding"].lower()
    return {"utf-16le": "utf-16-le", "utf-16be": "utf-16-be", "utf-32le": "utf-32-le"}.get(name, name)


def read_rows(path, encoding, delimiter):
    with open(path, encoding=encoding, newline="") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        text = text[1:]
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))


def same_value(kind, a, b):
    if a == "" or b == "":
        return a == b
    if kind == "integer":
        return int(a) == int(b)
    if kind == "real":
        return float(a) == float(b)
    if kind == "boolean":
        return (a.lower() in ("true", "yes", "t", "y", "1")) == (b == "true")
    return True  # dates: written in one form; a value is there, which is what matters here


def main():
    source, output, job_path, mode = sys.argv[1:5]
    entry = manifest_entry(source)
    expected = read_rows(source, python_encoding(entry), entry.get("delimiter", ","))
    got = read_rows(output, "utf-8", ",")
    with open(job_path, encoding="utf-8") as f:
        job = json.load(f)
    kinds = [field["TYPE"] for field in job["steps"][0]["properties"]["FIELDS"]]
    problems = []
    if len(expected) != len(got):
        problems.append("%d rows read, %d written" % (len(expected), len(got)))
    for number, (a, b) in enumerate(zip(expected, got), start=1):
        if mode == "text" or number == 1:
            if a != b:
                problems.append("row %d differs:\n  read  %r\n  wrote %r" % (number, a, b))
            continue
        if len(a) != len(b):
            problems.append("row %d: %d fields read, %d written" % (number, len(a), len(b)))
            continue
        for column, (x, y) in enumerate(zip(a, b)):
            kind = kinds[column] if column < len(kinds) else "string"
            ok = x == y if kind == "string" else same_value(kind, x, y)
            if not ok:
                problems.append("row %d column %d (%s): read %r, wrote %r" % (number, column + 1, kind, x, y))
        if len(problems) > 10:
            break
    if problems:
        print("\n".join(problems[:10]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
