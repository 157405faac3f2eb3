# Shared by the benchmark scripts: the build folder, a venv with pip to measure in, the median
# comparison of a hyperfine JSON export, and the sandbox for the scripts that install.

# Build folder holding the program (first argument of a script, else build/default).
BUILD_DIR=$(cd "${1:-build/default}" && pwd)

# A venv of the base interpreter with pip, made once and reused (BENCH_VENV chooses where).
BENCH_VENV=${BENCH_VENV:-${TMPDIR:-/tmp}/tessel-bench-venv}
if [ ! -x "$BENCH_VENV/bin/python" ] || ! "$BENCH_VENV/bin/python" -m pip --version >/dev/null 2>&1; then
    rm -rf "$BENCH_VENV"
    /usr/bin/python3 -m venv "$BENCH_VENV"
fi
export VIRTUAL_ENV="$BENCH_VENV"
unset CONDA_PREFIX

# report JSON TARGET_RATIO: prints each command's median wall time and the ratio of the first to
# the second; the CPU time (user + system) is shown beside it, since on a busy machine the wall
# times stretch with the load while the CPU times do not.
report() {
    python3 - "$1" "$2" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
ours, theirs = results[0]["median"], results[1]["median"]
cpu = [r["user"] + r["system"] for r in results]  # means over the runs
for r, c in zip(results, cpu):
    print(f"median {r['median'] * 1000:8.1f} ms  (mean cpu {c * 1000:6.1f} ms)  {r['command']}")
print(f"cpu ratio {cpu[0] / cpu[1]:.3f}")
ratio = ours / theirs
target = float(sys.argv[2])
print(f"ratio {ratio:.3f} (target <= {target:.3f}): {'met' if ratio <= target else 'NOT met'}")
PY
}

# start_sandbox: a work folder (WORK, with OUT for hyperfine's export) removed on exit, and the
# sandbox started in it with the benchmark's catalogue of five packages, once any test session
# that has its fixed ports is done (the end-to-end harness's lock). pip then trusts the sandbox's
# certificate (the look-up carries no --trusted-host), checks for no newer pip and reads no
# configuration; the record goes to WORK.
start_sandbox() {
    WORK=$(mktemp -d)
    OUT="$WORK/hyperfine.json"
    STATE="$WORK/sandbox"
    trap '/usr/bin/python3 sandbox/service.py stop --state-dir "$STATE" >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
    exec 9>"${TMPDIR:-/tmp}/tessel-installer-sandbox.lock"
    flock 9
    /usr/bin/python3 sandbox/service.py start --state-dir "$STATE" \
        --catalogue bench/engine_catalogue.json >/dev/null
    export REQUESTS_CA_BUNDLE="$STATE/cert.pem" PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 \
        PIP_CONFIG_FILE=/dev/null PIP_CACHE_DIR="$WORK/pip-cache" XDG_DATA_HOME="$WORK/data"
}
