#!/usr/bin/env bash
# Installs a build tree and runs an example job with the installed textjob.
#
#   check_install.sh BUILD_DIR EXAMPLE_DIR WORK_DIR RUN_EXAMPLE_SCRIPT
set -euo pipefail

build=$1
example=$2
work=$3
run_example=$4

fail() {
    echo "FAIL (install): $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/elsewhere"
cmake --install "$build" --prefix "$work/first" >"$work/install.log" || {
    cat "$work/install.log"
    fail "cmake --install failed"
}
# A moved tree still works: nothing in it may point at the prefix or the build tree.
mv "$work/first" "$work/prefix"
textjob="$work/prefix/bin/textjob"
[ -x "$textjob" ] || fail "no bin/textjob in the installed tree"
[ -f "$work/prefix/lib/libtext.so" ] || fail "no lib/libtext.so in the installed tree"
if readelf -d "$textjob" "$work/prefix/lib/"*.so | grep -E 'R(UN)?PATH' | grep -F "$build"; then
    fail "an installed file's run path names the build tree"
fi

cd "$work/elsewhere"
unset TEXT_PLUGIN_PATH
unset LD_LIBRARY_PATH
"$textjob" steps | grep -q SOURCE_DELIMTEXT || fail "textjob steps does not list the plug-in's steps"
bash "$run_example" "$textjob" "$example" "$work/elsewhere/job"
