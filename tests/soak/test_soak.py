"""A bounded soak, not part of CI: install and uninstall cycles disturbed at random by Ctrl-C,
a termination request or standard output on a full disk, with the invariant checked after every
cycle: every entry of the record names a distribution installed in this environment.

    TESSEL_INSTALLER_BIN=build/default/src/tessel_installer/tessel-installer \\
        /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/soak   [SOAK_CYCLES=60 SOAK_SEED=1]
"""

from __future__ import annotations

import os
import random
import re
import select
import signal
import subprocess

from engine_support import record

CYCLES = int(os.environ.get("SOAK_CYCLES", "60"))
SEED = int(os.environ.get("SOAK_SEED", "1"))
PACKAGES = ["tessel-enterprise", "bundle-alder", "bundle-birch", "bundle-cedar"]


def _canonical(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


def _run(program, venv, cwd, args, disturbance, rng):
    stdout = open("/dev/full", "wb") if disturbance == "full-disk" else subprocess.PIPE
    process = subprocess.Popen([program, *args], env=venv.env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=stdout, stderr=subprocess.PIPE, start_new_session=True)
    if disturbance in ("ctrl-c", "sigterm"):
        # Wait for the first progress frame (a pip child runs), then a random moment more.
        seen = b""
        while b"\r" not in seen:
            ready, _, _ = select.select([process.stdout], [], [], 300)
            chunk = os.read(process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                break
            seen += chunk
        select.select([], [], [], rng.uniform(0, 2.0))
        try:
            if disturbance == "ctrl-c":
                os.killpg(process.pid, signal.SIGINT)
            else:
                os.kill(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    process.communicate(timeout=600)
    if stdout is not subprocess.PIPE:
        stdout.close()
    return process.returncode


def test_every_record_entry_is_installed(sandbox, venv, program, tmp_path):
    rng = random.Random(SEED)
    violations = []
    tally = {}
    for cycle in range(CYCLES):
        disturbance = rng.choice(["none", "ctrl-c", "sigterm", "full-disk"])
        if rng.random() < 0.6:
            package = rng.choice(PACKAGES)
            args = ["install", "--package", package, "-v", "1.0.0"]
            if package == "bundle-birch":
                args += ["--options", rng.choice(["postgres", "mysql"])]
        else:
            args = ["uninstall"]
        status = _run(program, venv, str(tmp_path), args, disturbance, rng)
        tally[(args[0], disturbance, status)] = tally.get((args[0], disturbance, status), 0) + 1
        installed = {_canonical(name) for name in venv.installed()}
        entries = [line.strip() for line in (record(venv) or []) if line.strip()]
        untrue = [e for e in entries if _canonical(e.split("[")[0]) not in installed]
        if untrue:
            violations.append((cycle, args, disturbance, status, untrue))
    print(f"\n{CYCLES} cycles, seed {SEED}: {sorted(tally.items())}")
    for violation in violations:
        print("violation", violation)
    assert violations == []
