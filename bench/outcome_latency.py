#!/usr/bin/env python3
"""Time from a pip child's end to its outcome line on the program's standard output.

    /usr/bin/python3 bench/outcome_latency.py [BUILD_DIR] [RUNS]

The program installs six packages from a folder (no package service involved) into a stand-in
environment whose "python -m pip" sleeps a known, different time per package, then writes the
wall-clock time in nanoseconds to a file and exits; every other use of the interpreter goes to the
real /usr/bin/python3. This script reads the program's output through a pipe as it arrives and
stamps each outcome line. The figure per package is the arrival of its line minus the child's
stamp: an upper bound of the true delay, since it also counts the child's own exit. The sleeps
end at different points of the animation's 0.3 s frame cycle, so a frame-bound wait would show
delays spread up to 300 ms. Target: every delay under 20 ms.
"""

from __future__ import annotations

import os
import re
import select
import statistics
import subprocess
import sys
import tempfile
import time

# Package -> seconds its pip child runs.
SLEEPS = {"tessel-enterprise": 0.45, "tessel-enterprise-full": 0.62, "bundle-alder": 0.77,
          "bundle-birch": 0.91, "bundle-cedar": 1.13, "bundle-dogwood": 0.50}

FAKE_PYTHON = """#!/bin/sh
if [ "$1" != "-m" ] || [ "$2" != "pip" ]; then exec /usr/bin/python3 "$@"; fi
case "$4" in
{cases}
esac
sleep "$d"
date +%s%N > "{stamps}/$4"
exit 0
"""

OUTCOME = re.compile(rb"\r([a-z-]+) - Installed!\n")


def run_once(program: str, work: str) -> list[float]:
    stamps = os.path.join(work, "stamps")
    for name in os.listdir(stamps):
        os.unlink(os.path.join(stamps, name))
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHON"))}
    env.update(VIRTUAL_ENV=os.path.join(work, "venv"), XDG_DATA_HOME=os.path.join(work, "data"))
    # The stand-in's interpreter is the system's own, outside any venv: its pip would refuse to
    # change it, which the program checks before the first child.
    env["PIP_BREAK_SYSTEM_PACKAGES"] = "1"
    env.pop("CONDA_PREFIX", None)
    process = subprocess.Popen([program, "install", "--folder", os.path.join(work, "wheels")],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    arrivals: dict[str, int] = {}
    seen = b""
    while True:
        select.select([process.stdout], [], [])
        chunk = os.read(process.stdout.fileno(), 65536)
        now = time.time_ns()
        if not chunk:
            break
        seen += chunk
        for match in OUTCOME.finditer(seen):
            arrivals.setdefault(match.group(1).decode(), now)
    if process.wait() != 0:
        sys.exit(f"the program ended with status {process.returncode}:\n{seen.decode()}")
    delays = []
    for package in SLEEPS:
        with open(os.path.join(stamps, package), encoding="ascii") as handle:
            ended = int(handle.read())
        delays.append((arrivals[package] - ended) / 1e6)
    return delays


def main() -> None:
    build = sys.argv[1] if len(sys.argv) > 1 else "build/default"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    program = os.path.join(os.path.abspath(build), "src", "tessel_installer", "tessel-installer")
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "venv", "bin"))
        os.makedirs(os.path.join(work, "stamps"))
        os.makedirs(os.path.join(work, "wheels"))
        cases = "\n".join(f'  {name}) d={seconds} ;;' for name, seconds in SLEEPS.items())
        python = os.path.join(work, "venv", "bin", "python")
        with open(python, "w", encoding="ascii") as handle:
            handle.write(FAKE_PYTHON.format(cases=cases, stamps=os.path.join(work, "stamps")))
        os.chmod(python, 0o755)
        for name in SLEEPS:
            wheel = f"{name.replace('-', '_')}-1.0.0-py3-none-any.whl"
            open(os.path.join(work, "wheels", wheel), "wb").close()
        delays = []
        for _ in range(runs):
            delays += run_once(program, work)
    print(f"{len(delays)} outcome lines: median {statistics.median(delays):.2f} ms, "
          f"max {max(delays):.2f} ms, min {min(delays):.2f} ms")
    print(f"target: every delay < 20 ms: {'met' if max(delays) < 20 else 'NOT met'}")


if __name__ == "__main__":
    main()
