#!/usr/bin/env python3
"""Builds the fuzz targets' seed corpora from the public test data.

    make_seeds.py TESTDATA_DIR OUT_DIR

Writes OUT_DIR/{split,date,values,reader,infer}/, one file per seed, each starting with the option
bytes its target reads first (see the targets' sources).
"""
import json
import pathlib
import sys

# The reader target's encoding list, in its order.
READER_ENCODINGS = [-1, 0, 437, 850, 866, 932, 936, 949, 950, 1200, 1201, 1250, 1251, 1252, 1253,
                    1254, 1255, 1256, 1257, 1258, 12000, 12001, 20127, 28591, 28592, 28593, 28594,
                    28595, 28596, 28597, 28598, 28599, 28600, 28601, 28603, 28604, 28605, 54936,
                    65001]
MAX_SEEDS = 400
MAX_LINES_PER_FILE = 40


def csv_files(testdata):
    for folder in ("csv-edge-cases/csvs", "commons-csv/CSVFileParser", "real-world"):
        yield from sorted((testdata / folder).glob("*.[ct]sv"))


def lines_of(path):
    with open(path, "rb") as f:
        for number, line in enumerate(f):
            if number >= MAX_LINES_PER_FILE:
                break
            yield line.rstrip(b"\r\n")


def write_seeds(folder, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    unique = list(dict.fromkeys(seeds))[:MAX_SEEDS]
    for number, seed in enumerate(unique):
        (folder / f"seed{number:04d}").write_bytes(seed)


def main():
    testdata = pathlib.Path(sys.argv[1])
    out = pathlib.Path(sys.argv[2])
    lines = [line for path in csv_files(testdata) for line in lines_of(path)]
    fields = [field.strip(b'" ') for line in lines for field in line.split(b",")]

    # Splitter: comma or tab delimiter (by the file), double quote, each flag combination.
    write_seeds(out / "split",
                [bytes([(3 if b"\t" in line else 0) | (flags << 5)]) + line
                 for flags in range(4) for line in lines])
    # Dates and values: every field, in each date format, cut after a few characters.
    write_seeds(out / "date", [bytes([n % 4]) + field for n, field in enumerate(fields)])
    write_seeds(out / "values", [bytes([n % 16]) + field for n, field in enumerate(fields)])
    # Reader: each encoding sample in its encoding (and detected), lines read, reads of a few
    # bytes, in small and normal buffers.
    manifest = json.loads((testdata / "encodings/manifest.json").read_text())
    reader = []
    for entry in manifest["files"]:
        data = (testdata / "encodings" / entry["file"]).read_bytes()
        for encoding in (entry["codepage"], -1):
            for mode, buffer in ((0, 0), (1, 1), (2, 6), (3, 2)):
                options = 1 | (mode << 2) | (3 << 4)
                reader.append(bytes([READER_ENCODINGS.index(encoding), options, buffer]) + data)
    write_seeds(out / "reader", reader)
    # Detection: the head of each CSV file and encoding sample, read as delimited and as fixed
    # width.
    heads = [path.read_bytes()[:4096] for path in csv_files(testdata)]
    heads += [(testdata / "encodings" / entry["file"]).read_bytes()[:4096]
              for entry in manifest["files"]]
    write_seeds(out / "infer", [bytes([options]) + head for head in heads for options in (0, 1)])


if __name__ == "__main__":
    main()
