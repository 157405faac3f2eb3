"""Texts and helpers shared by the installation engine's end-to-end tests."""

from __future__ import annotations

import contextlib
import os
import re
import select
import signal
import subprocess
import time

import pytest

from conftest import program_environment

TRUSTED = ("--trusted-host pypi.org --trusted-host pypi.python.org "
           "--trusted-host files.pythonhosted.org --trusted-host 127.0.0.1:18443")

SUCCESS = {
    "install": "\nSuccess! All packages have been installed. You are ready to use Tessel "
               "Enterprise.\n",
    "download": "\nSuccess! All packages have been downloaded. Please install the packages to "
                "use Tessel Enterprise.\n",
}
PARTIAL = {
    "install": "\nNotice! All packages were installed, but `tessel-enterprise` was not included.\n"
               "To use Tessel Enterprise, please make sure it is installed.\n",
    "download": "\nNotice! All packages were downloaded, but `tessel-enterprise` was not "
                "included.\nPlease make sure that you have downloaded Tessel-Enterprise in order "
                "to be able to install it later.\n",
}
WARNING = {
    "install": "\nWarning! Some packages that you have access to could not be installed. Please "
               "check your setup and contact Mirralune to troubleshoot.\n",
    "download": "\nWarning! Some packages that you have access to could not be downloaded. "
                "Please check your setup and contact Mirralune to troubleshoot.\n",
}
BIRCH_WARNING = ("\nWarning: In order to use Birch, you'll need to install database-specific "
                 "packages. Please use the `--options` flag to specify your database variants.\n")
NOTE = "\nNote: This package has additional required dependencies that were also installed ({})."
FETCH_NOTICE = ("Could not fetch the list of packages from "
                "http://127.0.0.1:18080/api/v1/package-permissions: ")

_FRAME = re.compile(r"\r[^\r\n]*(?=\r)")
_FRAME_SHAPE = re.compile(r"\r[^\r\n]* (\.  |\.\. |\.\.\.)")


def screen(stdout: str) -> str:
    """The output as the user is left with it: every progress frame (a carriage return and text
    that the next carriage return overwrites) taken out. Each removed frame must have the shape
    of a frame, so a stray carriage return still shows up as a difference."""
    for frame in _FRAME.finditer(stdout):
        assert _FRAME_SHAPE.fullmatch(frame.group(0)), repr(frame.group(0))
    return _FRAME.sub("", stdout)


def record(venv) -> list[str] | None:
    """The lines of the program's record of installed packages, or None when there is none."""
    path = os.path.join(venv.data_dir, "installed_packages.txt")
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as handle:
        return handle.read().splitlines()


def without(entries, *names):
    return [(name, kind) for name, kind in entries if name not in names]


def shows(result, expected: str, status: int = 0) -> None:
    """The run ended with the status and left the user with the expected screen."""
    assert result.returncode == status, result.stdout + result.stderr
    assert screen(result.stdout) == expected, result.stderr


# How a run is ended, and the status it ends with: Ctrl-C reaches the program's process group, as
# a terminal sends it; a termination request (docker stop, systemd, a CI runner) the program alone.
ENDINGS = {"ctrl-c": (signal.SIGINT, 130), "sigterm": (signal.SIGTERM, 143),
           "sighup": (signal.SIGHUP, 129)}


def end(process, how: str) -> None:
    (os.killpg if how == "ctrl-c" else os.kill)(process.pid, ENDINGS[how][0])


@contextlib.contextmanager
def started(args, env, cwd, new_session: bool = False):
    """A command running with its output on pipes; whatever the block leaves running of it (its
    process group, with a session of its own) is killed and collected."""
    process = subprocess.Popen(args, env=env, cwd=str(cwd), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=new_session)
    try:
        yield process
    finally:
        if process.poll() is None:
            (os.killpg if new_session else os.kill)(process.pid, signal.SIGKILL)
            process.wait()


def read_until(stream, marker: bytes, limit: float = 120) -> bytes:
    """What the stream brings up to and including the marker, read as it arrives."""
    seen = b""
    deadline = time.monotonic() + limit
    while marker not in seen:
        left = deadline - time.monotonic()
        assert left > 0, f"no {marker!r} in {seen!r}"
        ready, _, _ = select.select([stream], [], [], left)
        if ready:
            chunk = os.read(stream.fileno(), 4096)
            assert chunk, f"output ended before {marker!r}: {seen!r}"
            seen += chunk
    return seen


def children(pid: int) -> list[int]:
    with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as handle:
        return [int(child) for child in handle.read().split()]


@pytest.fixture
def run_engine(program, sandbox, tmp_path):
    """run_engine(*args, venv=None, timeout=300, cwd=None) -> CompletedProcess whose stdout and stderr
    are text exactly as written: carriage returns kept (a text-mode pipe would turn them into
    line breaks and hide the progress frames)."""
    def run(*args: str, venv=None, timeout: float = 300, cwd: str | None = None):
        env = program_environment(venv, sandbox, tmp_path)
        result = subprocess.run([program, *args], env=env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout, cwd=cwd or str(tmp_path))
        return subprocess.CompletedProcess(result.args, result.returncode,
                                           result.stdout.decode("utf-8", "replace"),
                                           result.stderr.decode("utf-8", "replace"))
    return run
