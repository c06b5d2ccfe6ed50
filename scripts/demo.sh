#!/usr/bin/env bash
# Sets everything up, then decodes a BUFR file (by default one of our examples) and prints its values.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
# Without a file (only options, or nothing) decode one of our examples.
if [ "$#" -eq 0 ] || [[ "$1" == -* ]]; then set -- tests/data/synop_uncompressed.bufr "$@"; fi
exec .venv/bin/python -m tarnwel "$@"
