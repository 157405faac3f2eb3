"""Ctrl-C, termination requests, hang-ups and closed pipes during a run, with real signals and
real pip children: the running child ends (or, for a closed pipe, finishes), its outcome is kept,
no further package starts, the record matches what is installed, and the status is 128 + the
signal (1 for the closed pipe)."""

from __future__ import annotations

import os
import signal
import socket
import threading

import pytest

from engine_support import ENDINGS, children, end, read_until, record, started

CATALOGUE = [("tessel-enterprise", "base"), ("bundle-cedar", "bundle")]


@pytest.mark.parametrize("how", ["ctrl-c", "sigterm", "sighup"])
def test_signal_during_an_install(sandbox, venv, program, tmp_path, how):
    sandbox.set_catalogue(CATALOGUE)
    with started([program, "install", "-v", "1.0.0"], venv.env, tmp_path,
                 new_session=(how == "ctrl-c")) as process:
        # The first frame of the base package is drawn right after its pip child started.
        head = read_until(process.stdout, b"\rtessel-enterprise (version 1.0.0) .  ")
        (child,) = children(process.pid)
        end(process, how)
        out, err = process.communicate(timeout=120)
    stdout = (head + out).decode()
    assert process.returncode == ENDINGS[how][1], stdout + err.decode()
    # The running child has ended (and was collected): nothing of it is left.
    assert not os.path.exists(f"/proc/{child}")
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
    try:
        with started([program, "install", "--package", "bundle-cedar"], env, tmp_path) as process:
            assert proxy.connected.wait(120), "the version look-up never reached the index"
            (child,) = children(process.pid)
            end(process, how)
            # Well within pip's own retries (15 s per attempt, five attempts).
            out, err = process.communicate(timeout=30)
    finally:
        proxy.close()
    assert process.returncode == ENDINGS[how][1], out.decode() + err.decode()
    assert not os.path.exists(f"/proc/{child}")
    assert err.decode() == "tessel-installer: interrupted\n"
    assert "bundle-cedar" not in venv.installed()
    assert not record(venv)


def test_ctrl_c_abandons_the_catalogue_request(sandbox, venv, program, tmp_path):
    sandbox.set_fault("delay", seconds=30)
    with started([program, "list-packages"], venv.env, tmp_path, new_session=True) as process:
        sandbox.requests(wait_for=1)
        os.killpg(process.pid, signal.SIGINT)
        # Sooner than the request's own 5 s limit: the request was abandoned, not timed out.
        out, err = process.communicate(timeout=4)
    assert process.returncode == 130
    assert out == b""
    assert err == b"tessel-installer: interrupted\n"


def test_a_closed_pipe_keeps_the_install_and_its_record(sandbox, venv, program, tmp_path):
    """The reader of the output goes away (`| head -1`) while pip installs."""
    sandbox.set_catalogue(CATALOGUE)
    with started([program, "install", "--package", "bundle-cedar", "-v", "1.0.0"], venv.env,
                 tmp_path) as process:
        read_until(process.stdout, b"\rbundle-cedar .  ")
        (child,) = children(process.pid)
        process.stdout.close()
        err = process.stderr.read()
        process.wait(timeout=120)
    assert process.returncode == 1
    lines = err.decode().splitlines()
    assert len(lines) == 1 and "Broken pipe" in lines[0], lines
    # pip was not orphaned: it had finished, and was recorded, before the program ended.
    assert not os.path.exists(f"/proc/{child}")
    assert venv.installed().get("bundle-cedar") == "1.0.0"
    assert record(venv) == ["bundle-cedar"]
