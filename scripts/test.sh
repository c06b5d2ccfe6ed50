#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite against the installed package.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
exec .venv/bin/python -m pytest -q tests "$@"
