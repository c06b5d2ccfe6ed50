#!/usr/bin/env bash
# Builds the fuzz targets into build/fuzz, runs each for SECONDS (default 60) on top of the seeds with
# -timeout=1 -rss_limit_mb=512, prints executions and coverage per target, and fails on any crash,
# sanitizer report, timeout or out-of-memory. Needs clang; Python from $PYTHON (default python3).
#   TARNWEL_FUZZ_VENV    venv for atheris and the module's interpreter (default build/fuzz/venv)
#   TARNWEL_FUZZ_CORPUS  directory of shared real messages (default ../shared/corpus beside the clone)
set -euo pipefail

SECONDS_PER_TARGET="${1:-60}"
[[ "$SECONDS_PER_TARGET" =~ ^[1-9][0-9]*$ ]] || { echo "usage: tools/fuzz/run.sh [SECONDS]" >&2; exit 2; }
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ROOT="$PWD"
BUILD="$ROOT/build/fuzz"
VENV="${TARNWEL_FUZZ_VENV:-$BUILD/venv}"
SHARED_CORPUS="${TARNWEL_FUZZ_CORPUS:-$ROOT/../shared/corpus}"
FINDINGS="$BUILD/findings"
LIMITS=(-timeout=1 -rss_limit_mb=512 -max_len=65536 -print_final_stats=1)

die() { printf 'fuzz run FAILED: %s\n' "$*" >&2; exit 1; }

command -v clang++ >/dev/null || die "clang++ not found (Debian: apt-get install -y clang libclang-rt-14-dev)"

# ------------------------------------------------------------------------------------------------ build
[ -x "$VENV/bin/python" ] || "${PYTHON:-python3}" -m venv "$VENV"
"$VENV/bin/python" -c 'import atheris' 2>/dev/null ||
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check atheris
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
cmake -S . -B "$BUILD" "${GENERATOR[@]}" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWEL_FUZZERS=ON -DTARNWEL_PYTHON_MODULE=ON -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

# ------------------------------------------------------------------------------------------------ seeds
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tarnwel-fuzz.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
SEED_FILES=(tests/data/*.bufr tools/fuzz/regressions/*)
if [ -d "$SHARED_CORPUS" ]; then
    shopt -s nullglob
    SEED_FILES+=("$SHARED_CORPUS"/*.bufr)
    shopt -u nullglob
fi
"$VENV/bin/python" tools/fuzz/prepare_seeds.py "$WORK/seeds" "${SEED_FILES[@]}"
rm -rf "$FINDINGS"
mkdir -p "$FINDINGS"

# ------------------------------------------------------------------------------------------------ runs
# ASan keeps 256 MB of freed memory by default, half of the RSS limit; 64 MB still catches reuse.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ATHERIS_DIR="$("$VENV/bin/python" -c 'import atheris; print(atheris.path())')"
FAILED=()

# Runs target $1 (a command after the name), its log in $WORK/$1.log, then prints its figures.
run_target() {
    local name="$1" rc=0
    shift
    mkdir -p "$WORK/$name-corpus"
    timeout --kill-after=30 "$((SECONDS_PER_TARGET + 300))" "$@" -max_total_time="$SECONDS_PER_TARGET" \
        "${LIMITS[@]}" -artifact_prefix="$FINDINGS/$name-" "$WORK/$name-corpus" "$WORK/seeds" \
        >"$WORK/$name.log" 2>&1 || rc=$?
    cp "$WORK/$name.log" "$FINDINGS/$name.log"
    local done_line
    done_line="$(grep -E '^#[0-9]+[[:space:]]+(DONE|INITED|pulse|NEW|REDUCE)' "$WORK/$name.log" | tail -1 || true)"
    local runs cov ft rss
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$WORK/$name.log")"
    rss="$(sed -n 's/^stat::peak_rss_mb: *//p' "$WORK/$name.log")"
    cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")"
    ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")"
    printf '%-14s %s executions in %s s, cov: %s edges, ft: %s features, peak RSS %s MB (exit %s)\n' \
        "$name" "${runs:-?}" "$SECONDS_PER_TARGET" "${cov:-?}" "${ft:-?}" "${rss:-?}" "$rc"
    local reports='ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|Uncaught Python|fuzz invariant'
    if [ "$rc" -ne 0 ] || [ -z "$runs" ] || compgen -G "$FINDINGS/$name-*" >/dev/null ||
        grep -qE "$reports" "$WORK/$name.log"; then
        grep -E -A40 "$reports" "$WORK/$name.log" | head -80 >&2 || true
        FAILED+=("$name")
    fi
}

ASAN_OPTIONS="quarantine_size_mb=64" run_target core_fuzzer "$BUILD/tools/fuzz/core_fuzzer"
# The interpreter is not instrumented: atheris' own runtime is preloaded, and its leaks are not ours.
LD_PRELOAD="$ATHERIS_DIR/asan_with_fuzzer.so" ASAN_OPTIONS="quarantine_size_mb=64:detect_leaks=0" \
    PYTHONPATH="$BUILD:$ROOT/python" TARNWEL_FUZZ_SUPPORT="$BUILD/tools/fuzz/libtarnwel_fuzz_support.so" \
    run_target module_fuzzer "$VENV/bin/python" tools/fuzz/module_fuzzer.py

if [ "${#FAILED[@]}" -ne 0 ]; then
    die "${FAILED[*]}; inputs and logs in $FINDINGS"
fi
echo "fuzz run passed: no crash, sanitizer report, timeout or out-of-memory"
