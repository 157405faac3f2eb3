"""The program under supervisors (a container's stop, systemd, a CI runner, nohup, a background
job): every process of the run ends with it, and signals that were ignored at start stay ignored,
in the program and in pip. Real pip, real signals, a real process tree."""

from __future__ import annotations

import os
import select
import signal

import pytest

from engine_support import ENDINGS, children, end, read_until, record, started

CATALOGUE = [("tessel-enterprise", "base"), ("bundle-cedar", "bundle")]
FIRST_FRAME = b"\rtessel-enterprise (version 1.0.0) .  "


def _grandchild_stand_in(venv, tmp_path) -> str:
    """The venv's python becomes a stand-in that, for `-m pip install`, leaves a grandchild
    behind: a sleep started in the background, which ignores Ctrl-C as every background command
    of a script does (a build step that outlives its pip). Its pid comes through a FIFO."""
    fifo = str(tmp_path / "grandchild.fifo")
    os.mkfifo(fifo)
    python = os.path.join(venv.bin_dir, "python")
    os.unlink(python)
    with open(python, "w", encoding="utf-8") as handle:
        handle.write("#!/bin/sh\n"
                     'if [ "$1 $2 $3" = "-m pip install" ]; then\n'
                     "  sleep 300 &\n"
                     f"  echo $! > '{fifo}'\n"
                     "fi\n"
                     'exec "$(dirname "$0")/python3" "$@"\n')
    os.chmod(python, 0o755)
    return fifo


def _read_pid(fifo: str) -> int:
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        text = b""
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([fd], [], [], 120)
            assert ready, "the stand-in never started its grandchild"
            text += os.read(fd, 64)
        return int(text)
    finally:
        os.close(fd)


def _ends(pid: int, limit: float = 20) -> bool:
    """Whether the process has ended (or ends within the limit, which only bounds a failure)."""
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        return True
    try:
        ready, _, _ = select.select([fd], [], [], limit)
        return bool(ready)
    finally:
        os.close(fd)


@pytest.mark.parametrize("how", list(ENDINGS))
def test_no_process_of_the_run_outlives_it(sandbox, venv, program, tmp_path, how):
    sandbox.set_catalogue(CATALOGUE)
    fifo = _grandchild_stand_in(venv, tmp_path)
    grandchild = None
    with started([program, "install", "-v", "1.0.0"], venv.env, tmp_path,
                 new_session=True) as process:
        grandchild = _read_pid(fifo)
        head = read_until(process.stdout, FIRST_FRAME)
        (pip,) = children(process.pid)
        end(process, how)
        out, err = process.communicate(timeout=120)
    try:
        assert process.returncode == ENDINGS[how][1], (head + out + err).decode()
        assert not os.path.exists(f"/proc/{pip}")
        assert _ends(grandchild), f"pip's own child {grandchild} outlived the run"
        assert b"Installing Bundles:" not in head + out
        assert not record(venv)
    finally:
        if grandchild is not None and not _ends(grandchild, 0):
            os.kill(grandchild, signal.SIGKILL)


# How the program is started with a signal ignored, and which signal then arrives: it reaches the
# program and pip's process group, and neither ends.
IGNORED = {
    "nohup": (["nohup"], signal.SIGHUP),
    "background-job": (["sh", "-c", 'trap "" INT; exec "$0" "$@"'], signal.SIGINT),
}


@pytest.mark.parametrize("how", list(IGNORED))
def test_a_signal_ignored_at_start_stays_ignored(sandbox, venv, program, tmp_path, how):
    sandbox.set_catalogue([("bundle-cedar", "bundle")])
    launcher, signal_number = IGNORED[how]
    with started([*launcher, program, "install", "-v", "1.0.0"], venv.env, tmp_path,
                 new_session=True) as process:
        head = read_until(process.stdout, b"\rbundle-cedar .  ")
        (pip,) = children(process.pid)
        os.kill(process.pid, signal_number)
        os.killpg(pip, signal_number)
        out, err = process.communicate(timeout=300)
    stdout = (head + out).decode()
    assert process.returncode == 0, stdout + err.decode()
    assert "\rbundle-cedar - Installed!\n" in stdout
    assert venv.installed().get("bundle-cedar") == "1.0.0"
    assert record(venv) == ["bundle-cedar"]
