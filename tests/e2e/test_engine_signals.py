"""Ctrl-C, termination requests, hang-ups and closed pipes during a run, with real signals and
real pip children: the running child ends (or, for a closed pipe, finishes), its outcome is kept,
no further package starts, the record matches what is installed, and the status is 128 + the
signal (1 for the closed pipe)."""

from __future__ import annotations

import os
import select
import signal
import subprocess
import time

import socket
import threading

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


SIGNALS = {"ctrl-c": (signal.SIGINT, 130), "sigterm": (signal.SIGTERM, 143),
           "sighup": (signal.SIGHUP, 129)}


def _kill(process, how):
    if how == "ctrl-c":
        os.killpg(process.pid, signal.SIGINT)  # what a terminal does: the whole group
    else:
        os.kill(process.pid, SIGNALS[how][0])  # the program alone


@pytest.mark.parametrize("how", ["ctrl-c", "sigterm", "sighup"])
def test_signal_during_an_install(sandbox, venv, program, tmp_path, how):
    sandbox.set_catalogue(CATALOGUE)
    process = _start(program, venv, str(tmp_path), new_session=(how == "ctrl-c"))
    try:
        # The first frame of the base package is drawn right after its pip child started.
        head = _read_until(process, b"\rtessel-enterprise (version 1.0.0) .  ")
        children = _children(process.pid)
        assert len(children) == 1
        _kill(process, how)
        out, err = process.communicate(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    stdout = (head + out).decode()
    expected_status = SIGNALS[how][1]
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


class _SilentProxy:
    """A proxy on loopback that accepts connections and never answers: an index that stalls."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connected = threading.Event()
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.held.append(connection)
            self.connected.set()

    def close(self):
        self.listener.close()
        for connection in self.held:
            connection.close()


@pytest.mark.parametrize("how", ["sigterm", "sighup"])
def test_termination_during_the_version_look_up(sandbox, venv, program, tmp_path, how):
    """pip's index query retries a stalled index for minutes; the request must reach it."""
    sandbox.set_catalogue(CATALOGUE)
    proxy = _SilentProxy()
    env = dict(venv.env)
    env.pop("NO_PROXY", None)
    # pip reaches the https index through the proxy; the catalogue request is plain http.
    env.update({"https_proxy": f"http://127.0.0.1:{proxy.port}",
                "HTTPS_PROXY": f"http://127.0.0.1:{proxy.port}"})
    process = subprocess.Popen([program, "install", "--package", "bundle-cedar"], env=env,
                               cwd=str(tmp_path), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert proxy.connected.wait(120), "the version look-up never reached the index"
        children = _children(process.pid)
        assert len(children) == 1
        _kill(process, how)
        # Well within pip's own retries (15 s per attempt, five attempts).
        out, err = process.communicate(timeout=30)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        proxy.close()
    assert process.returncode == SIGNALS[how][1], out.decode() + err.decode()
    assert not os.path.exists(f"/proc/{children[0]}")
    assert err.decode() == "tessel-installer: interrupted\n"
    assert "bundle-cedar" not in venv.installed()
    assert not record(venv)


def test_ctrl_c_abandons_the_catalogue_request(sandbox, venv, program, tmp_path):
    sandbox.set_fault("delay", seconds=30)
    process = subprocess.Popen([program, "list-packages"], env=venv.env, cwd=str(tmp_path),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, start_new_session=True)
    try:
        sandbox.requests(wait_for=1)
        os.killpg(process.pid, signal.SIGINT)
        # Sooner than the request's own 5 s limit: the request was abandoned, not timed out.
        out, err = process.communicate(timeout=4)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert process.returncode == 130
    assert out == b""
    assert err == b"tessel-installer: interrupted\n"


def test_a_closed_pipe_keeps_the_install_and_its_record(sandbox, venv, program, tmp_path):
    """The reader of the output goes away (`| head -1`) while pip installs."""
    sandbox.set_catalogue(CATALOGUE)
    process = subprocess.Popen([program, "install", "--package", "bundle-cedar", "-v", "1.0.0"],
                               env=venv.env, cwd=str(tmp_path), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        _read_until(process, b"\rbundle-cedar .  ")
        children = _children(process.pid)
        assert len(children) == 1
        process.stdout.close()
        err = process.stderr.read()
        process.wait(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert process.returncode == 1
    lines = err.decode().splitlines()
    assert len(lines) == 1 and "Broken pipe" in lines[0], lines
    # pip was not orphaned: it had finished, and was recorded, before the program ended.
    assert not os.path.exists(f"/proc/{children[0]}")
    assert venv.installed().get("bundle-cedar") == "1.0.0"
    assert record(venv) == ["bundle-cedar"]
