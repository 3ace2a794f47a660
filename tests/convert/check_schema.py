#!/usr/bin/env python3
"""Validates job files against the JSON Schema that the build wrote with `textjob schema`.

    check_schema.py --textjob PATH --schema FILE --examples DIR --data DIR --work DIR

Every example job and every job that `textjob infer` writes (for each kind of output, for
delimited and fixed-width files) must validate; jobs with a misspelt property, a table cell of a
column the step lacks, an unknown step type or a property of the wrong type must not.
"""

import argparse
import copy
import glob
import json
import os
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    # The setup script installs the validator as a system package; an interpreter of its own
    # (a virtual environment, a version manager) may not see the system's packages.
    sys.path.append("/usr/lib/python3/dist-packages")
    import jsonschema


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--textjob", "--schema", "--examples", "--data", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    with open(args.schema, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    failures = []

    jobs = {}
    for path in sorted(glob.glob(os.path.join(args.examples, "*", "job.json"))):
        with open(path, encoding="utf-8") as f:
            jobs[os.path.relpath(path, args.examples)] = json.load(f)
    inputs = [os.path.join(args.data, "real-world", "airports.csv"),
              os.path.join(args.data, "encodings", "utf16le_bom.csv")]
    for data in inputs:
        for target in ("csv", "fixed", "html", "none"):
            for extra in ([], ["--text"], ["--fixed"]):
                result = subprocess.run([args.textjob, "infer", data, "--to", target, *extra],
                                        capture_output=True, timeout=120)
                name = f"infer {os.path.basename(data)} --to {target} {' '.join(extra)}"
                if result.returncode != 0:
                    failures.append(f"{name}: exit status {result.returncode}")
                    continue
                jobs[name] = json.loads(result.stdout)

    for name, job in jobs.items():
        errors = sorted(validator.iter_errors(job), key=str)
        if errors:
            failures.append(f"{name} does not validate: {errors[0].message}")
        else:
            print(f"ok: {name}")

    # The schema must also refuse what the runner refuses.
    base = jobs[next(iter(jobs))]
    def broken(change):
        job = copy.deepcopy(base)
        change(job)
        return job
    first = base["steps"][0]
    table = next(k for k, v in first["properties"].items() if isinstance(v, list))
    wrong = {
        "misspelt property": broken(lambda j: j["steps"][0]["properties"].update({"FILNAME": "x"})),
        "unknown column": broken(lambda j: j["steps"][0]["properties"][table][0].update({"NAM": "x"})),
        "unknown step type": broken(lambda j: j["steps"][0].update({"type": "SOURCE_DELIMTXT"})),
        "table given as text": broken(lambda j: j["steps"][0]["properties"].update({table: "x"})),
        "no steps": {"steps": []},
        "unknown step key": broken(lambda j: j["steps"][0].update({"propertys": {}})),
        "flag that is no yes or no": broken(
            lambda j: j["steps"][0]["properties"].update({"NEWLINES_IN_VALUES": "on"})),
        "flag given as 2": broken(
            lambda j: j["steps"][0]["properties"].update({"NEWLINES_IN_VALUES": 2})),
        "source without its file": broken(lambda j: j["steps"][0]["properties"].pop("FILENAME")),
    }
    for name, job in wrong.items():
        if validator.is_valid(job):
            failures.append(f"a job with a {name} validates")
            continue
        # The error is told at the step's property, not at the step as a whole.
        best = jsonschema.exceptions.best_match(validator.iter_errors(job))
        if name.endswith(("flag that is no yes or no", "flag given as 2")) and \
                list(best.absolute_path)[-1:] != ["NEWLINES_IN_VALUES"]:
            failures.append(f"a job with a {name} is refused at {list(best.absolute_path)}")
    # And take what it takes: a flag as a word of yes or no.
    for word in ("true", " False ", "Y", "no", "1"):
        job = broken(lambda j: j["steps"][0]["properties"].update({"NEWLINES_IN_VALUES": word}))
        if not validator.is_valid(job):
            failures.append(f"a job with the flag {word!r} does not validate")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
