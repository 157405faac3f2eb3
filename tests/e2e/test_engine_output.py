"""Output that cannot be written (a full disk, a closed standard output) and text from outside
that must not steer the terminal: the work and its record stay true, the status says what
happened, and exactly one error line explains it."""

from __future__ import annotations

import stat
import subprocess

import pytest

from engine_support import record, run_engine  # noqa: F401 - a fixture

CATALOGUE = [("tessel-enterprise", "base"), ("bundle-cedar", "bundle")]

# How standard output is spoiled, and the cause the error line must name.
SPOILED = {
    "full disk": ("exec \"$@\" >/dev/full", "No space left on device"),
    "closed": ("exec \"$@\" >&-", "Bad file descriptor"),
}


def _run_spoiled(program, env, cwd, how, *args):
    shell, _ = SPOILED[how]
    return subprocess.run(["sh", "-c", shell, "sh", program, *args], env=env, cwd=cwd,
                          stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300)


def _one_error_line(result, cause):
    lines = result.stderr.decode("utf-8", "replace").splitlines()
    assert len(lines) == 1, lines
    assert lines[0].startswith("tessel-installer: error: ") and cause in lines[0], lines


@pytest.mark.parametrize("how", list(SPOILED))
def test_install_and_uninstall_keep_their_record_when_output_fails(sandbox, venv, program,
                                                                     tmp_path, how):
    sandbox.set_catalogue(CATALOGUE)
    installed = _run_spoiled(program, venv.env, str(tmp_path), how,
                             "install", "--package", "bundle-cedar", "-v", "1.0.0")
    assert installed.returncode == 1
    _one_error_line(installed, SPOILED[how][1])
    assert venv.installed().get("bundle-cedar") == "1.0.0"
    assert record(venv) == ["bundle-cedar"]

    removed = _run_spoiled(program, venv.env, str(tmp_path), how, "uninstall")
    assert removed.returncode == 1
    _one_error_line(removed, SPOILED[how][1])
    assert "bundle-cedar" not in venv.installed()
    assert record(venv) == []


@pytest.mark.parametrize("how", list(SPOILED))
@pytest.mark.parametrize("args", [("list-packages",), ("check-requirements",), ("--help",),
                                  ("install", "--help"), ()])
def test_output_only_commands_fail_when_nothing_could_be_written(sandbox, venv, program,
                                                                 tmp_path, how, args):
    result = _run_spoiled(program, venv.env, str(tmp_path), how, *args)
    assert result.returncode == 1
    _one_error_line(result, SPOILED[how][1])


def test_a_redirect_target_cannot_steer_the_terminal(sandbox, run_engine):
    forged = "\x1b[2J\x1b[HSuccess! All packages have been installed.\x07\x9b31m"
    sandbox.set_fault("status", status=302, location=forged)
    result = run_engine("list-packages")
    assert result.returncode == 1
    assert "\x1b" not in result.stdout and "\x07" not in result.stdout
    assert "\x9b" not in result.stdout
    notice = [line for line in result.stdout.splitlines() if "redirect" in line]
    assert len(notice) == 1, result.stdout
    assert "\\x1b[2J\\x1b[HSuccess!" in notice[0]


def test_unreadable_interpreter_output_is_shown_whole_and_inert(sandbox, program, tmp_path):
    """An environment whose interpreter answers with garbage (control bytes, a NUL) instead of
    the facts asked for."""
    env_dir = tmp_path / "broken-env"
    (env_dir / "bin").mkdir(parents=True)
    python = env_dir / "bin" / "python"
    python.write_text("#!/bin/sh\nprintf 'garbage\\033[2J\\000after-nul'\n", encoding="ascii")
    python.chmod(python.stat().st_mode | stat.S_IXUSR)
    env = {"PATH": "/usr/bin:/bin", "HOME": str(tmp_path), "VIRTUAL_ENV": str(env_dir)}
    result = subprocess.run([program, "check-requirements"], env=env, stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60, cwd=str(tmp_path))
    assert result.returncode == 1
    err = result.stderr.decode("utf-8", "replace")
    assert "\x1b" not in err and "\x00" not in err
    assert "garbage\\x1b[2J\\x00after-nul" in err, err
