"""The record of installed packages under pressure: another run holding its lock, links planted in
its place, a folder we may not write, a record that cannot be read, and recorded extras."""

from __future__ import annotations

import os
import select
import signal
import subprocess

import pytest

from engine_support import record, screen, run_engine  # noqa: F401 (fixture)

TRUSTED_PIP = ("--index-url", "https://127.0.0.1:18443/", "--trusted-host", "127.0.0.1:18443")
WAITING = ("Waiting for another run of tessel-installer to release the record of installed "
           "packages ({})\u2026\n")
GAVE_UP = "': interrupted while waiting for another run of tessel-installer to release it\n"
STOPPED = "tessel-installer: error: Cannot {} the record of installed packages, so nothing was " \
          "uninstalled: {}\n"


def _paths(venv):
    os.makedirs(venv.data_dir, exist_ok=True)
    path = os.path.join(venv.data_dir, "installed_packages.txt")
    return path, path + ".lock"


def _hold(lock_path):
    """Another run holding the lock: flock(1) keeps it while its command runs, and the command
    says so once the lock is held."""
    holder = subprocess.Popen(["flock", lock_path, "sh", "-c", "echo held; exec sleep 600"],
                              stdout=subprocess.PIPE, start_new_session=True)
    assert holder.stdout.readline() == b"held\n"
    return holder


def _read_until(stream, marker: bytes) -> bytes:
    seen = b""
    while marker not in seen:
        ready, _, _ = select.select([stream], [], [], 300)
        assert ready, f"no {marker!r} in {seen!r}"
        chunk = os.read(stream.fileno(), 4096)
        assert chunk, f"output ended before {marker!r}: {seen!r}"
        seen += chunk
    return seen


def _run_against_held_lock(program, venv, cwd, args, then):
    """Runs the program while another run holds the lock; once it says it is waiting, `then`
    (the program, the holder) acts. Returns (status, stdout, stderr, holder still running)."""
    path, lock = _paths(venv)
    holder = _hold(lock)
    process = subprocess.Popen([program, *args], env=venv.env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    try:
        waited = _read_until(process.stderr, WAITING.format(path).encode())
        then(process, holder)
        out, err = process.communicate(timeout=120)
        return process.returncode, out.decode(), (waited + err).decode(), holder.poll() is None
    finally:
        for child in (process, holder):
            if child.poll() is None:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()


INTERRUPTS = [
    pytest.param(["install", "-v", "1.0.0"], signal.SIGINT,
                 "Failed to write installed package 'tessel-enterprise' to", "bundle-cedar",
                 id="ctrl-c-install"),
    pytest.param(["uninstall"], signal.SIGTERM,
                 "Failed to remove uninstalled package 'bundle-cedar' from", "tessel-enterprise",
                 id="sigterm-uninstall"),
]


@pytest.mark.parametrize("args, how, failed, never_started", INTERRUPTS)
def test_interrupt_while_waiting_for_the_lock(sandbox, venv, program, tmp_path, args, how, failed,
                                              never_started):
    sandbox.set_catalogue([("tessel-enterprise", "base"), ("bundle-cedar", "bundle")])
    path, _ = _paths(venv)
    recorded = None
    if args[0] == "uninstall":
        assert venv.pip("install", "tessel-enterprise==1.0.0", "bundle-cedar==1.0.0",
                        *TRUSTED_PIP).returncode == 0
        recorded = ["tessel-enterprise", "bundle-cedar"]
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("".join(name + "\n" for name in recorded))

    def interrupt(process, _holder):
        # Ctrl-C reaches the whole process group, as from a terminal; SIGTERM the program alone.
        (os.killpg if how == signal.SIGINT else os.kill)(process.pid, how)

    status, out, err, still_held = _run_against_held_lock(program, venv, str(tmp_path), args,
                                                          interrupt)
    assert still_held  # it ended without waiting for the lock's release
    assert status == 128 + how, out + err
    assert err == (WAITING.format(path) + f"{failed} '{path}{GAVE_UP}"
                   "tessel-installer: interrupted\n")
    # The next package's child never started.
    assert f"\r{never_started}" not in out
    assert (never_started in venv.installed()) == (args[0] == "uninstall")
    assert record(venv) == recorded


def test_waiting_run_goes_on_when_the_lock_is_released(venv, program, tmp_path):
    def release(_process, holder):
        os.killpg(holder.pid, signal.SIGKILL)
        holder.wait()

    status, out, err, _ = _run_against_held_lock(
        program, venv, str(tmp_path), ["install", "--package", "bundle-cedar", "-v", "1.0.0"],
        release)
    assert (status, err) == (0, WAITING.format(_paths(venv)[0])), out
    assert record(venv) == ["bundle-cedar"]


@pytest.mark.parametrize("planted", ["record", "lock"])
def test_planted_link_is_refused(venv, run_engine, tmp_path, planted):
    path, lock = _paths(venv)
    link = path if planted == "record" else lock
    # A file of someone else's behind the record; a file to be created anywhere behind the lock.
    target = tmp_path / "not-ours.txt"
    if planted == "record":
        target.write_text("bundle-alder\n")
    os.symlink(target, link)
    result = run_engine("install", "--package", "bundle-cedar", "-v", "1.0.0", venv=venv)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stderr == (f"Failed to write installed package 'bundle-cedar' to '{path}': "
                             f"'{link}' is a symbolic link; refusing to use it\n")
    assert os.path.islink(link)
    if planted == "record":
        assert target.read_text() == "bundle-alder\n"
    else:
        assert not target.exists()


def _as_owner_without_override(program):
    """The command prefix under which permission bits stop the program: none for a user, and for
    root a user namespace of its own, where it still owns its files but loses root's override."""
    if os.getuid() != 0:
        return []
    if subprocess.run(["unshare", "--user", "true"], capture_output=True).returncode != 0:
        pytest.skip("running as root, where permission bits stop nothing, and no user namespace "
                    "is available to drop root's override (ledgerfile_test covers the wording)")
    return ["unshare", "--user"]


@pytest.mark.parametrize("case", ["directory", "undecodable", "link", "read-only folder"])
def test_unusable_record_stops_uninstall(sandbox, venv, program, tmp_path, case):
    prefix = _as_owner_without_override(program) if case == "read-only folder" else []
    assert venv.pip("install", "bundle-cedar==1.0.0", *TRUSTED_PIP).returncode == 0
    path, lock = _paths(venv)
    if case == "directory":
        os.makedirs(path)
        stop = STOPPED.format("read", f"[Errno 21] Is a directory: '{path}'")
    elif case == "undecodable":
        with open(path, "wb") as handle:
            handle.write(b"bundle-cedar\n\xff\n")
        stop = STOPPED.format("read", "'utf-8' codec can't decode byte 0xff in position 13 of "
                                      f"'{path}'")
    elif case == "link":
        (tmp_path / "elsewhere.txt").write_text("bundle-cedar\n")
        os.symlink(tmp_path / "elsewhere.txt", path)
        stop = STOPPED.format("read", f"'{path}' is a symbolic link; refusing to use it")
    else:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("bundle-cedar\n")
        os.chmod(venv.data_dir, 0o555)
        stop = STOPPED.format("rewrite", f"[Errno 13] Permission denied: '{lock}'")

    def run(*args):
        return subprocess.run([*prefix, program, *args], env=venv.env, cwd=str(tmp_path),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=300)

    if case == "read-only folder":
        # A lock that cannot be created is named as the permission it is, when storing too.
        installed = run("install", "--package", "bundle-cedar", "-v", "1.0.0")
        assert installed.stderr == (f"Failed to write installed package 'bundle-cedar' to "
                                    f"'{path}': [Errno 13] Permission denied: '{lock}'\n")
    asked = len(sandbox.requests()["catalogue"])
    result = run("uninstall")
    os.chmod(venv.data_dir, 0o755)
    assert (result.returncode, result.stdout, result.stderr) == (1, "", stop)
    assert "bundle-cedar" in venv.installed()
    assert len(sandbox.requests()["catalogue"]) == asked  # no fallback to the catalogue


def test_recorded_extra_uninstalls(venv, run_engine):
    installed = run_engine("install", "--package", "bundle-birch", "--options", "postgres",
                           "-v", "1.0.0", venv=venv)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    assert record(venv) == ["bundle-birch[postgres]"]
    result = run_engine("uninstall", venv=venv)
    assert result.returncode == 0, result.stdout + result.stderr
    assert screen(result.stdout) == "Uninstalling:\n\rbundle-birch[postgres] - Uninstalled!\n"
    assert "bundle-birch" not in venv.installed()
    assert record(venv) == []
