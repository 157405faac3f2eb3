#!/usr/bin/env bash
# The whole check of a downloaded folder of six packages (the five of bench/engine_catalogue.json
# and their dependency tessel-common-utils), as `install --folder` makes it before any child,
# against that install itself, side by side in one hyperfine run, each run in a fresh venv.
# Target: the check under 2 % of the install.
#   bench/bundle_check.sh [BUILD_DIR]        (RUNS, default 10; each install takes some seconds)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh "${1:-build/default}"

PROGRAM="$BUILD_DIR/src/tessel_installer/tessel-installer"
CHECK="$BUILD_DIR/bench/bundle_check"
for p in "$PROGRAM" "$CHECK"; do
    [ -x "$p" ] || { echo "build the tessel-installer and bundle_check targets in $BUILD_DIR first" >&2; exit 1; }
done

start_sandbox

FOLDER="$WORK/bundle"
"$PROGRAM" download --folder "$FOLDER" >/dev/null
ls "$FOLDER"
"$CHECK" "$FOLDER"
# The install needs no service: stop it, as on the machine the folder is carried to.
/usr/bin/python3 sandbox/service.py stop --state-dir "$STATE" >/dev/null

export VIRTUAL_ENV="$WORK/venv"
cat > "$WORK/fresh-venv" <<PREPARE
#!/bin/sh
rm -rf "$WORK/venv" "$WORK/data"
cp -a "$BENCH_VENV" "$WORK/venv"
PREPARE
chmod +x "$WORK/fresh-venv"

hyperfine -N --warmup 1 --runs "${RUNS:-10}" --prepare "$WORK/fresh-venv" --export-json "$OUT" \
    "$CHECK $FOLDER" \
    "$PROGRAM install --folder $FOLDER"
report "$OUT" 0.02
