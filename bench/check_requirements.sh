#!/usr/bin/env bash
# `tessel-installer check-requirements` against `python -m pip --version` in the same venv, side
# by side in one hyperfine run. Target: our median at most a quarter of pip's.
#   bench/check_requirements.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh "${1:-build/default}"

PROGRAM="$BUILD_DIR/src/tessel_installer/tessel-installer"
[ -x "$PROGRAM" ] || { echo "build the tessel-installer target in $BUILD_DIR first" >&2; exit 1; }
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT

hyperfine -N --warmup 3 --runs "${RUNS:-30}" --export-json "$OUT" \
    "$PROGRAM check-requirements" \
    "$BENCH_VENV/bin/python -m pip --version"
report "$OUT" 0.25
