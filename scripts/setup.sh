#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev zlib1g-dev chromium
          python3 python3-jsonschema clang libclang-rt-14-dev parallel)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# A German locale, so the tests can prove numbers never follow LC_NUMERIC.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "warning: could not build the de_DE.UTF-8 locale"
fi
