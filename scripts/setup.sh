#!/usr/bin/env bash
# Set-up shared by demo.sh and test.sh: the ecCodes table data, a virtual environment in .venv,
# and tarnwel built and installed into it with its test extras. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [ ! -d /usr/share/eccodes/definitions/bufr/tables ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends libeccodes-data
fi

PYTHON="${PYTHON:-python3}"
[ -x .venv/bin/python ] || "$PYTHON" -m venv .venv
# Rebuild only when a source or build file changed since the last install.
STAMP=.venv/.tarnwel-installed
if [ ! -e "$STAMP" ] || [ -n "$(find src python CMakeLists.txt pyproject.toml -newer "$STAMP" -print -quit)" ]; then
    .venv/bin/python -m pip install -q --disable-pip-version-check ".[test]"
    touch "$STAMP"
fi
