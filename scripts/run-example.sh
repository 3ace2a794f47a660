#!/usr/bin/env bash
# Sets up the machine, builds, and runs the example job: a CSV file of orders written again as
# a semicolon-delimited file, a fixed-width file and an HTML report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja
# Only what the job needs: the runner, the plug-in and their libraries.
cmake --build build -j2 --target textjob text
example=examples/csv_to_reports
mkdir -p "$example/out"
build/bin/textjob run "$example/job.json"
echo
echo "Outputs are in $example/out/:"
ls -l "$example/out"
