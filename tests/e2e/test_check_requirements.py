"""`tessel-installer check-requirements` in a real venv: the report a user sees, and its status."""

from __future__ import annotations

import platform
import subprocess

import pytest


def _pretty_name() -> str | None:
    try:
        with open("/etc/os-release", encoding="utf-8") as handle:
            for line in handle:
                if line.startswith("PRETTY_NAME="):
                    return line.split("=", 1)[1].strip().strip("\"'")
    except OSError:
        pass
    return None


@pytest.mark.smoke
@pytest.mark.parametrize("where", ["venv", "venv_with_blank"])
def test_check_requirements_reports_the_venv_and_passes(request, run_program, where):
    venv = request.getfixturevalue(where)
    result = run_program("check-requirements", venv=venv)
    assert result.returncode == 0, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert lines[:2] == ["Verifying system requirements for Tessel Enterprise: ", ""]
    assert lines[-3:] == ["", "Result: Passed",
                          "Your system meets the technical requirements for Tessel Enterprise."]
    python_version = subprocess.run(
        [venv.python, "-c", "import platform; print(platform.python_version())"],
        capture_output=True, text=True, check=True).stdout.strip()
    assert f"Python Version: {python_version}" in lines
    assert "(!)" not in result.stdout
    assert f"Pip version: {venv.installed()['pip']}" in lines
    assert f"Architecture: {platform.machine().lower()}" in lines
    assert "System bit: 64-bit" in lines
    distro = _pretty_name()
    if distro:
        assert f"Linux Distribution: {distro}" in lines
