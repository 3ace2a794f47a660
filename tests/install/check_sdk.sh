#!/usr/bin/env bash
# Installs a build tree as an SDK, moves it, builds the out-of-tree plug-in in upper_step/
# against it with find_package(TextJob), and runs that plug-in's step in a job with the
# installed textjob, beside the Text plug-in's source and destination.
#
#   check_sdk.sh BUILD_DIR PLUGIN_SOURCE_DIR WORK_DIR
set -euo pipefail

build=$1
plugin_source=$2
work=$3

fail() {
    echo "FAIL (sdk): $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/job"
cmake --install "$build" --prefix "$work/first" >"$work/install.log" || {
    cat "$work/install.log"
    fail "cmake --install failed"
}
mv "$work/first" "$work/sdk"
sdk="$work/sdk"
for header in step/plugin.h step/host.h mvb/string.h mvb/datavar.h texthost/run.h; do
    [ -f "$sdk/include/$header" ] || fail "no include/$header in the installed tree"
done
ls "$sdk"/lib/libmvbrt.so.0 "$sdk"/lib/libtexthost.so.0 >/dev/null ||
    fail "the runtime and host libraries lack their versioned names"

cmake -S "$plugin_source" -B "$work/plugin" -DCMAKE_PREFIX_PATH="$sdk" \
    -DCMAKE_BUILD_TYPE=Release >"$work/plugin.log" 2>&1 || {
    cat "$work/plugin.log"
    fail "the plug-in does not configure against the SDK"
}
cmake --build "$work/plugin" >>"$work/plugin.log" 2>&1 || {
    cat "$work/plugin.log"
    fail "the plug-in does not build against the SDK"
}

cd "$work/job"
printf 'id,name\n1,ann\n2,Bob\n3,\n' >in.csv
cat >job.json <<'JOB'
{"steps": [
  {"type": "SOURCE_DELIMTEXT", "name": "in", "properties": {"FILENAME": "in.csv", "SKIPROWS": 1,
   "FIELDS": [{"NAME": "id", "TYPE": "integer"}, {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 10}]}},
  {"type": "UPPER_FIELD", "name": "upper", "properties": {"FIELDNAME": "name"}},
  {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": "out.csv",
   "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}}]}
JOB
unset TEXT_PLUGIN_PATH LD_LIBRARY_PATH
"$sdk/bin/textjob" --plugin "$sdk/lib/libtext.so:$work/plugin/libupper.so" run job.json ||
    fail "the job with the out-of-tree step failed"
expected=$'1,ANN\n2,BOB\n3,'
[ "$(cat out.csv)" = "$expected" ] || fail "out.csv holds: $(cat out.csv)"
"$sdk/bin/textjob" --plugin "$sdk/lib/libtext.so:$work/plugin/libupper.so" steps |
    grep -q UPPER_FIELD || fail "textjob steps does not list the out-of-tree step"
echo "sdk: the out-of-tree step ran"
