#!/usr/bin/env bash
# `tessel-installer install -v 1.0.0` of five packages from the sandbox (only the connectors
# package is looked up) against the very same pip children run back to back by a shell script
# (bench/engine_install_children.sh), side by side in one hyperfine run, each run in a fresh venv.
# Target: our median at most 1.03 times the script's. Everything the program does besides its
# pip children (start-up, two catalogue requests, inventory snapshots, record writes, the progress
# line) has to fit in those 3 %.
#   bench/engine_install.sh [BUILD_DIR]        (RUNS, default 10; each run takes some seconds)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh "${1:-build/default}"

PROGRAM="$BUILD_DIR/src/tessel_installer/tessel-installer"
[ -x "$PROGRAM" ] || { echo "build the tessel-installer target in $BUILD_DIR first" >&2; exit 1; }

WORK=$(mktemp -d)
OUT="$WORK/hyperfine.json"
STATE="$WORK/sandbox"
cleanup() {
    /usr/bin/python3 sandbox/service.py stop --state-dir "$STATE" >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# The sandbox listens on fixed ports: wait for any test session that has it (same lock file as
# the end-to-end harness), then start it with the benchmark's catalogue of five packages.
exec 9>"${TMPDIR:-/tmp}/tessel-installer-sandbox.lock"
flock 9
/usr/bin/python3 sandbox/service.py start --state-dir "$STATE" \
    --catalogue bench/engine_catalogue.json >/dev/null

# The same environment for both: pip trusts the sandbox's certificate (the look-up carries no
# --trusted-host), checks for no newer pip, reads no configuration; the record goes to WORK.
export REQUESTS_CA_BUNDLE="$STATE/cert.pem" PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 \
    PIP_CONFIG_FILE=/dev/null PIP_CACHE_DIR="$WORK/pip-cache" XDG_DATA_HOME="$WORK/data"
export VIRTUAL_ENV="$WORK/venv"

# A fresh venv before every run: a copy of the template venv of common.sh.
cat > "$WORK/fresh-venv" <<PREPARE
#!/bin/sh
rm -rf "$WORK/venv" "$WORK/data"
cp -a "$BENCH_VENV" "$WORK/venv"
PREPARE
chmod +x "$WORK/fresh-venv"

hyperfine -N --warmup 1 --runs "${RUNS:-10}" --prepare "$WORK/fresh-venv" --export-json "$OUT" \
    "$PROGRAM install -v 1.0.0" \
    "bench/engine_install_children.sh"
report "$OUT" 1.03
