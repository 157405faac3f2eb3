#!/usr/bin/env bash
# One inventory snapshot (names and versions of every installed distribution) against
# `python -m pip list` in the same venv, side by side in one hyperfine run. Target: our median at
# most a fifth of pip's.
#   bench/inventory_snapshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh "${1:-build/default}"

PROGRAM="$BUILD_DIR/bench/inventory_snapshot"
[ -x "$PROGRAM" ] || { echo "build the inventory_snapshot target in $BUILD_DIR first" >&2; exit 1; }
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT

hyperfine -N --warmup 3 --runs "${RUNS:-30}" --export-json "$OUT" \
    "$PROGRAM" \
    "$BENCH_VENV/bin/python -m pip list"
report "$OUT" 0.20
