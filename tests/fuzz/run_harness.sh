#!/usr/bin/env bash
# Runs one libFuzzer harness: first over every seed, then fuzzing for SECONDS.
#   run_harness.sh HARNESS SEED_DIR WORK_DIR SECONDS [scratch|keep]
# New inputs go to WORK_DIR/corpus (emptied first with "scratch", kept across runs with "keep"),
# crash files to WORK_DIR/artifacts, the output to WORK_DIR/log. The seed directory is only read.
# A dictionary beside the seeds (SEED_DIR/../NAME.dict) is used when there is one.
set -euo pipefail
harness=$1 seeds=$2 work=$3 seconds=$4 mode=${5:-scratch}

if [ "$mode" = scratch ]; then rm -rf "$work/corpus" "$work/artifacts"; fi
mkdir -p "$work/corpus" "$work/artifacts"
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$work/artifacts/")
dict="$(dirname "$seeds")/$(basename "$seeds").dict"
if [ -f "$dict" ]; then options+=(-dict="$dict"); fi

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
set +e
"$harness" "${options[@]}" "$work/corpus" "$seeds" >"$work/log" 2>&1
status=$?
set -e
# The run's summary, and the end of the log when the harness found something.
grep -E '^(stat::|Done |INFO: Seed|==[0-9]+==ERROR|SUMMARY|property failed|artifact_prefix)' "$work/log" || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$work/log"
  ls "$work/artifacts"
fi
exit "$status"
