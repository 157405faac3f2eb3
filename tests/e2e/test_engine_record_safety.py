"""The record of installed packages under pressure: another run holding its lock, links planted in
its place, a folder we may not write, a record that cannot be read, and recorded extras."""

from __future__ import annotations

import os
import signal
import subprocess

import pytest

from engine_support import read_until, record, shows, started, run_engine  # noqa: F401 (fixture)

TRUSTED_PIP = ("--index-url", "https://127.0.0.1:18443/", "--trusted-host", "127.0.0.1:18443")
WAITING = ("Waiting for another run of tessel-installer to release the record of installed "
           "packages ({})\u2026\n")


def _paths(venv):
    os.makedirs(venv.data_dir, exist_ok=True)
    path = os.path.join(venv.data_dir, "installed_packages.txt")
    return path, path + ".lock"


# An install's entry is still written (one append without the lock); a removal says it failed.
@pytest.mark.parametrize("args, how, failed, never_started", [
    (["install", "-v", "1.0.0"], signal.SIGINT, None, "bundle-cedar"),
    (["uninstall"], signal.SIGTERM,
     "Failed to remove uninstalled package 'bundle-cedar' from", "tessel-enterprise"),
], ids=["ctrl-c-install", "sigterm-uninstall"])
def test_interrupt_while_waiting_for_the_lock(sandbox, venv, program, tmp_path, args, how, failed,
                                              never_started):
    sandbox.set_catalogue([("tessel-enterprise", "base"), ("bundle-cedar", "bundle")])
    path, lock = _paths(venv)
    recorded = None
    if args[0] == "uninstall":
        assert venv.pip("install", "tessel-enterprise==1.0.0", "bundle-cedar==1.0.0",
                        *TRUSTED_PIP).returncode == 0
        recorded = ["tessel-enterprise", "bundle-cedar"]
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("".join(name + "\n" for name in recorded))
    # Another run holding the lock: flock(1) holds it while its command runs, which says so.
    with started(["flock", lock, "sh", "-c", "echo held; exec sleep 600"], None, tmp_path,
                 new_session=True) as holder:
        assert holder.stdout.readline() == b"held\n"
        with started([program, *args], venv.env, tmp_path, new_session=True) as process:
            waited = read_until(process.stderr, WAITING.format(path).encode(), limit=300)
            # Ctrl-C reaches the whole process group, as from a terminal; SIGTERM the program
            # alone.
            (os.killpg if how == signal.SIGINT else os.kill)(process.pid, how)
            out, err = process.communicate(timeout=120)
        assert holder.poll() is None  # it ended without waiting for the lock's release
    assert process.returncode == 128 + how, out + err
    assert (waited + err).decode() == (
        WAITING.format(path) + (f"{failed} '{path}': interrupted while waiting for another run of "
                                "tessel-installer to release it\n" if failed else "") +
        "tessel-installer: interrupted\n")
    # The next package's child never started.
    assert f"\r{never_started}".encode() not in out
    assert (never_started in venv.installed()) == (args[0] == "uninstall")
    assert record(venv) == (recorded or ["tessel-enterprise"])


def _as_owner_without_override():
    """The command prefix under which permission bits stop the program: none for a user, and for
    root a user namespace of its own, where it still owns its files but loses root's override."""
    if os.getuid() != 0:
        return []
    if subprocess.run(["unshare", "--user", "true"], capture_output=True).returncode != 0:
        pytest.skip("running as root, where permission bits stop nothing, and no user namespace "
                    "is available to drop root's override (ledgerfile_test covers the wording)")
    return ["unshare", "--user"]


REFUSED = "'{}' is a symbolic link; refusing to use it"


TOO_LARGE = ("'{}' is larger than 1 MiB, too large for a record of installed packages; refusing "
             "to read it")


@pytest.mark.parametrize("case", ["directory", "undecodable", "record link", "lock link",
                                  "fifo", "read-only folder", "folder link", "sparse"])
def test_unusable_record(sandbox, venv, program, tmp_path, case):
    """Storing says why it failed; uninstall then stops before any pip child, naming the cause."""
    prefix = _as_owner_without_override() if case == "read-only folder" else []
    path, lock = _paths(venv)
    not_ours = tmp_path / "not-ours.txt"  # behind a planted link: must stay as it is, or absent
    if case in ("lock link", "read-only folder"):
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("bundle-cedar\n")
    if case == "directory":
        os.makedirs(path)
        stored, step, cause = True, "read", f"[Errno 21] Is a directory: '{path}'"
    elif case == "undecodable":
        with open(path, "wb") as handle:
            handle.write(b"\xff\n")
        stored, step, cause = False, "read", (
            f"'utf-8' codec can't decode byte 0xff in position 0 of '{path}'")
    elif case == "record link":
        not_ours.write_text("bundle-alder\n")
        os.symlink(not_ours, path)
        stored, step, cause = True, "read", REFUSED.format(path)
    elif case == "fifo":
        os.mkfifo(path)  # nobody ever writes to it: reading it would wait for good
        stored, step, cause = True, "read", f"'{path}' is not a regular file; refusing to use it"
    elif case == "lock link":
        os.symlink(not_ours, lock)
        stored, step, cause = True, "rewrite", REFUSED.format(lock)
    elif case == "folder link":
        # The folder itself replaced by a link: neither the record nor its lock lands behind it.
        os.rmdir(venv.data_dir)
        elsewhere = tmp_path / "elsewhere"
        elsewhere.mkdir()
        not_ours = elsewhere / "installed_packages.txt"
        os.symlink(elsewhere, venv.data_dir)
        stored, step, cause = True, "read", REFUSED.format(venv.data_dir)
    elif case == "sparse":
        with open(path, "wb") as handle:
            handle.truncate(3 * 1024 ** 3)  # 3 GiB that take no room on the disk
        stored, step, cause = True, "read", TOO_LARGE.format(path)
    else:
        os.chmod(venv.data_dir, 0o555)
        stored, step, cause = True, "rewrite", f"[Errno 13] Permission denied: '{lock}'"

    def run(*args):
        return subprocess.run([*prefix, program, *args], env=venv.env, cwd=str(tmp_path),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=300)

    installed = run("install", "--package", "bundle-cedar", "-v", "1.0.0")
    assert installed.returncode == 0, installed.stdout + installed.stderr
    assert installed.stderr == (f"Failed to write installed package 'bundle-cedar' to '{path}': "
                                f"{cause}\n" if stored else "")
    asked = len(sandbox.requests()["catalogue"])
    result = run("uninstall")
    os.chmod(venv.data_dir, 0o755)
    assert (result.returncode, result.stdout, result.stderr) == (
        1, "", f"tessel-installer: error: Cannot {step} the record of installed packages, so "
               f"nothing was uninstalled: {cause}\n")
    assert "bundle-cedar" in venv.installed()
    assert len(sandbox.requests()["catalogue"]) == asked  # no fallback to the catalogue
    assert (not_ours.read_text() == "bundle-alder\n" if case == "record link"
            else not not_ours.exists())
    if case == "folder link":
        assert os.listdir(tmp_path / "elsewhere") == []


def test_recorded_extra_uninstalls(venv, run_engine):
    installed = run_engine("install", "--package", "bundle-birch", "--options", "postgres",
                           "-v", "1.0.0", venv=venv)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    assert record(venv) == ["bundle-birch[postgres]"]
    result = run_engine("uninstall", venv=venv)
    shows(result, "Uninstalling:\n\rbundle-birch[postgres] - Uninstalled!\n")
    assert "bundle-birch" not in venv.installed()
    assert record(venv) == []
