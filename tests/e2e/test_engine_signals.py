"""Ctrl-C and termination requests during an install, with real signals and real pip children:
the running child ends, its outcome is shown, no further package starts, the record matches what
is installed, and the status is 128 + the signal."""

from __future__ import annotations

import os
import select
import signal
import subprocess
import time

import pytest

from engine_support import record

CATALOGUE = [("tessel-enterprise", "base"), ("bundle-cedar", "bundle")]


def _start(program, venv, cwd, new_session):
    return subprocess.Popen([program, "install", "-v", "1.0.0"], env=venv.env, cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=new_session)


def _read_until(process, marker: bytes, limit: float = 120) -> bytes:
    """Standard output up to and including the marker, read as it arrives."""
    seen = b""
    deadline = time.monotonic() + limit
    while marker not in seen:
        left = deadline - time.monotonic()
        assert left > 0, f"no {marker!r} in {seen!r}"
        ready, _, _ = select.select([process.stdout], [], [], left)
        if ready:
            chunk = os.read(process.stdout.fileno(), 4096)
            assert chunk, f"output ended before {marker!r}: {seen!r}"
            seen += chunk
    return seen


def _children(pid: int) -> list[int]:
    with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as handle:
        return [int(child) for child in handle.read().split()]


@pytest.mark.parametrize("how", ["ctrl-c", "sigterm"])
def test_signal_during_an_install(sandbox, venv, program, tmp_path, how):
    sandbox.set_catalogue(CATALOGUE)
    process = _start(program, venv, str(tmp_path), new_session=(how == "ctrl-c"))
    try:
        # The first frame of the base package is drawn right after its pip child started.
        head = _read_until(process, b"\rtessel-enterprise (version 1.0.0) .  ")
        children = _children(process.pid)
        assert len(children) == 1
        if how == "ctrl-c":
            os.killpg(process.pid, signal.SIGINT)  # what a terminal does: the whole group
        else:
            os.kill(process.pid, signal.SIGTERM)  # the program alone
        out, err = process.communicate(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    stdout = (head + out).decode()
    expected_status = 130 if how == "ctrl-c" else 143
    assert process.returncode == expected_status, stdout + err.decode()
    # The running child has ended (and was collected): nothing of it is left.
    assert not os.path.exists(f"/proc/{children[0]}")
    # The signal reached pip within moments of its start, long before it could have finished:
    # its outcome line is a failure, and it is not recorded. The bundle phase never started.
    assert ("\rtessel-enterprise (version 1.0.0) - Installation failed. Use --debug for more "
            "details.\n") in stdout
    assert "Installing Bundles:" not in stdout
    assert len(err.decode().splitlines()) == 1
    assert "bundle-cedar" not in venv.installed()
    assert not record(venv)
